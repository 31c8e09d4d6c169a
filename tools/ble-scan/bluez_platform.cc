// The Linux platform: BlueZ's D-Bus interface on the system bus through
// GDBus, with GLib's default main context as the main queue. Timers, D-Bus
// replies and signals, SIGINT and SIGTERM are all served by that one loop on
// the main thread, so nothing here needs a lock. Every D-Bus call is
// asynchronous: a bus or a daemon that does not answer never holds up the
// deadline.
//
// BlueZ in terms of a central manager:
// - state: no system bus, no org.bluez on it or no adapter is unsupported; a
//   refusal by the bus policy unauthorized; adapters that are all off powered
//   off; the first powered adapter, in object path order, powered on.
//   Adapters that appear or power on before the scan starts count as well.
// - scan: SetDiscoveryFilter (the service as a 128-bit UUID, LE only, no
//   duplicate data), then StartDiscovery; StopDiscovery when the scan ends,
//   at the deadline or on SIGINT or SIGTERM.
// - discoveries: a Device1 object that appears while we discover, or whose
//   advertised properties change then, was heard advertising. BlueZ keeps
//   devices of earlier scans with their old properties; being in the tree is
//   no sighting. A heard device is passed on while its UUIDs hold the service
//   (other clients' filters are merged with ours, so the filter alone proves
//   nothing). Its identifier is its Address, its name its Name: Alias falls
//   back to the address and is no name.
#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/ble-scan/platform.h"
#include "tools/ble-scan/scan_options.h"
#include "tools/ble-scan/standard_output.h"

namespace beaconsweep {

namespace {

constexpr char kBluezService[] = "org.bluez";
constexpr char kAdapterInterface[] = "org.bluez.Adapter1";
constexpr char kDeviceInterface[] = "org.bluez.Device1";
constexpr char kObjectManagerInterface[] = "org.freedesktop.DBus.ObjectManager";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";

struct UnrefVariant {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using VariantPtr = std::unique_ptr<GVariant, UnrefVariant>;

struct FreeError {
  void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, FreeError>;

struct UnrefObject {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using ConnectionPtr = std::unique_ptr<GDBusConnection, UnrefObject>;

// Device1 properties that only a received advertisement sets.
bool IsAdvertisedProperty(const std::string& name) {
  static const char* const kAdvertised[] = {"RSSI",        "TxPower",         "ManufacturerData",
                                            "ServiceData", "AdvertisingData", "AdvertisingFlags"};
  return std::any_of(std::begin(kAdvertised), std::end(kAdvertised),
                     [&](const char* advertised) { return name == advertised; });
}

// Property values of another type than BlueZ documents count as absent.
std::optional<std::string> StringValue(GVariant* value) {
  if (!g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) return std::nullopt;
  return std::string(g_variant_get_string(value, nullptr));
}

std::optional<bool> BooleanValue(GVariant* value) {
  if (!g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) return std::nullopt;
  return g_variant_get_boolean(value) != FALSE;
}

std::vector<std::string> StringListValue(GVariant* value) {
  std::vector<std::string> list;
  if (!g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) return list;
  GVariantIter iter;
  g_variant_iter_init(&iter, value);
  const gchar* item = nullptr;
  while (g_variant_iter_next(&iter, "&s", &item)) list.emplace_back(item);
  return list;
}

// Calls `visit(key, value)` for every entry of a dictionary `{s<type>}`
// whose `entry_format` unpacks a borrowed key and an owned value ("{&sv}",
// "{&s@a{sv}}"); does nothing for a value of another type.
template <typename Visit>
void ForEachEntry(GVariant* dict, const char* dict_type, const char* entry_format, Visit visit) {
  if (!g_variant_is_of_type(dict, G_VARIANT_TYPE(dict_type))) return;
  GVariantIter iter;
  g_variant_iter_init(&iter, dict);
  const gchar* key = nullptr;
  GVariant* value = nullptr;
  while (g_variant_iter_next(&iter, entry_format, &key, &value)) {
    VariantPtr owned(value);
    visit(std::string(key), value);
  }
}

// What BlueZ has told us about one Device1 object.
struct Device {
  std::optional<std::string> address;
  std::optional<std::string> name;
  std::vector<std::string> uuids;
  bool heard = false;  // advertising while we discover
};

// Takes in Device1 properties; true when one of them came from an
// advertisement.
bool ApplyDeviceProperties(GVariant* properties, Device* device) {
  bool advertised = false;
  ForEachEntry(properties, "a{sv}", "{&sv}", [&](const std::string& name, GVariant* value) {
    if (name == "Address") device->address = StringValue(value);
    if (name == "Name") device->name = StringValue(value);
    if (name == "UUIDs") device->uuids = StringListValue(value);
    advertised = advertised || IsAdvertisedProperty(name);
  });
  return advertised;
}

void ForgetDeviceProperties(GVariant* invalidated, Device* device) {
  for (const std::string& name : StringListValue(invalidated)) {
    if (name == "Address") device->address.reset();
    if (name == "Name") device->name.reset();
    if (name == "UUIDs") device->uuids.clear();
  }
}

void ApplyAdapterProperties(GVariant* properties, bool* powered) {
  ForEachEntry(properties, "a{sv}", "{&sv}", [&](const std::string& name, GVariant* value) {
    if (name == "Powered") *powered = BooleanValue(value).value_or(false);
  });
}

// The central state a refused call stands for, and the refusal in words.
std::pair<CentralState, std::string> DescribeRefusal(const char* method, GError* error) {
  if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
    return {CentralState::kUnsupported,
            "org.bluez is not on the system bus (is bluetoothd running?)"};
  }
  gchar* remote = g_dbus_error_get_remote_error(error);
  const std::string name = remote != nullptr ? remote : "";
  g_free(remote);
  g_dbus_error_strip_remote_error(error);
  std::string detail = std::string(method) + " failed: ";
  if (!name.empty()) detail += name + ": ";
  detail += error->message;
  if (name == "org.freedesktop.DBus.Error.AccessDenied" ||
      name == "org.bluez.Error.NotAuthorized") {
    return {CentralState::kUnauthorized, detail};
  }
  if (name == "org.bluez.Error.NotReady") return {CentralState::kPoweredOff, detail};
  return {CentralState::kUnsupported, detail};
}

class BluezPlatform : public Platform {
 public:
  bool MakeServiceUuid(const std::string& text, std::string* uuid_string) override {
    return CanonicalBluetoothUuid(text, uuid_string);
  }

  // The platform lives until the process ends: callbacks hold `this`.
  void CreateCentral(CentralDelegate* delegate) override {
    delegate_ = delegate;
    g_unix_signal_add(SIGINT, OnTerminationSignal<SIGINT>, this);
    g_unix_signal_add(SIGTERM, OnTerminationSignal<SIGTERM>, this);
    g_bus_get(G_BUS_TYPE_SYSTEM, nullptr, OnBus, this);
  }

  bool HasCentral() const override { return delegate_ != nullptr; }
  std::string DescribeCentralState() const override { return state_detail_; }

  void ScanForService(const std::string& uuid_string) override {
    scan_requested_ = true;
    service_ = FullBluetoothUuid(uuid_string);
    GVariantBuilder filter;
    g_variant_builder_init(&filter, G_VARIANT_TYPE_VARDICT);
    const gchar* uuids[] = {service_.c_str()};
    g_variant_builder_add(&filter, "{sv}", "UUIDs", g_variant_new_strv(uuids, 1));
    g_variant_builder_add(&filter, "{sv}", "Transport", g_variant_new_string("le"));
    g_variant_builder_add(&filter, "{sv}", "DuplicateData", g_variant_new_boolean(FALSE));
    CallAdapter("SetDiscoveryFilter", g_variant_new("(a{sv})", &filter), OnFilterSet);
  }

  // Sent without waiting for an answer, and flushed: the process may end
  // right after.
  void StopScan() override {
    if (!discovery_started_) return;
    discovery_started_ = false;
    g_dbus_connection_call(bus_.get(), kBluezService, adapter_path_.c_str(), kAdapterInterface,
                           "StopDiscovery", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                           nullptr, nullptr);
    g_dbus_connection_flush_sync(bus_.get(), nullptr, nullptr);
  }

  void RunAfter(int64_t delay_ms, std::function<void()> callback) override {
    auto* owned = new std::function<void()>(std::move(callback));
    const auto run = [](gpointer data) -> gboolean {
      (*static_cast<std::function<void()>*>(data))();
      return G_SOURCE_REMOVE;
    };
    const auto destroy = [](gpointer data) { delete static_cast<std::function<void()>*>(data); };
    const int64_t ms = std::max<int64_t>(delay_ms, 0);
    if (ms <= G_MAXUINT) {
      g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(ms), run, owned, destroy);
      return;
    }
    // GLib counts milliseconds in 32 bits, about 49 days; beyond that whole
    // seconds do, up to 136 years.
    const int64_t seconds = std::min<int64_t>(ms / 1000, G_MAXUINT);
    g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, static_cast<guint>(seconds), run, owned,
                               destroy);
  }

  int RunMainLoop() override {
    for (;;) g_main_context_iteration(nullptr, TRUE);
  }

  void WriteStandardOutput(const std::string& bytes) override { WriteAllToStandardOutput(bytes); }
  void Terminate(int status) override { std::exit(status); }

 private:
  static BluezPlatform* Self(gpointer data) { return static_cast<BluezPlatform*>(data); }

  // Ends the scan as the deadline would, then ends the process the way the
  // signal itself would have, for whoever waits on it.
  template <int kSignal>
  static gboolean OnTerminationSignal(gpointer data) {
    Self(data)->StopScan();
    signal(kSignal, SIG_DFL);
    raise(kSignal);
    return G_SOURCE_REMOVE;
  }

  static void OnBus(GObject*, GAsyncResult* result, gpointer data) {
    GError* raw_error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &raw_error);
    ErrorPtr error(raw_error);
    if (bus == nullptr) {
      Self(data)->Report(CentralState::kUnsupported,
                         std::string("cannot connect to the system bus: ") + error->message);
      return;
    }
    Self(data)->Connected(bus);
  }

  void Connected(GDBusConnection* bus) {
    bus_.reset(bus);
    // A bus that goes away must not end the process before its deadline.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    // Subscribed before the snapshot is asked for, so that nothing between
    // the two is missed.
    const char* const kSignals[][2] = {{kObjectManagerInterface, "InterfacesAdded"},
                                       {kObjectManagerInterface, "InterfacesRemoved"},
                                       {kPropertiesInterface, "PropertiesChanged"}};
    for (const auto& [interface, member] : kSignals) {
      g_dbus_connection_signal_subscribe(bus, kBluezService, interface, member, nullptr, nullptr,
                                         G_DBUS_SIGNAL_FLAGS_NONE, OnSignal, this, nullptr);
    }
    g_dbus_connection_call(bus, kBluezService, "/", kObjectManagerInterface, "GetManagedObjects",
                           nullptr, G_VARIANT_TYPE("(a{oa{sa{sv}}})"), G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, OnManagedObjects, this);
  }

  // The reply of `method`; null, with the refusal reported, when it failed.
  VariantPtr ReplyOrReport(const char* method, GObject* source, GAsyncResult* result) {
    GError* raw_error = nullptr;
    VariantPtr reply(
        g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw_error));
    ErrorPtr error(raw_error);
    if (reply) return reply;
    auto [state, detail] = DescribeRefusal(method, error.get());
    Report(state, std::move(detail));
    return nullptr;
  }

  static void OnManagedObjects(GObject* source, GAsyncResult* result, gpointer data) {
    BluezPlatform* self = Self(data);
    VariantPtr reply = self->ReplyOrReport("GetManagedObjects", source, result);
    if (!reply) return;
    VariantPtr objects(g_variant_get_child_value(reply.get(), 0));
    ForEachEntry(objects.get(), "a{oa{sa{sv}}}", "{&o@a{sa{sv}}}",
                 [&](const std::string& path, GVariant* interfaces) {
                   self->AddInterfaces(path, interfaces);
                 });
    self->have_objects_ = true;
    self->ChooseAdapter();
  }

  static void OnSignal(GDBusConnection*, const gchar*, const gchar* object_path, const gchar*,
                       const gchar* member, GVariant* parameters, gpointer data) {
    BluezPlatform* self = Self(data);
    const std::string signal_name = member;
    if (signal_name == "InterfacesAdded" &&
        g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa{sa{sv}})"))) {
      const gchar* path = nullptr;
      GVariant* interfaces = nullptr;
      g_variant_get(parameters, "(&o@a{sa{sv}})", &path, &interfaces);
      VariantPtr owned(interfaces);
      self->AddInterfaces(path, interfaces);
    } else if (signal_name == "InterfacesRemoved" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oas)"))) {
      const gchar* path = nullptr;
      GVariant* interfaces = nullptr;
      g_variant_get(parameters, "(&o@as)", &path, &interfaces);
      VariantPtr owned(interfaces);
      self->RemoveInterfaces(path, StringListValue(interfaces));
    } else if (signal_name == "PropertiesChanged" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) {
      const gchar* interface = nullptr;
      GVariant* changed = nullptr;
      GVariant* invalidated = nullptr;
      g_variant_get(parameters, "(&s@a{sv}@as)", &interface, &changed, &invalidated);
      VariantPtr owned_changed(changed);
      VariantPtr owned_invalidated(invalidated);
      self->ChangeProperties(object_path, interface, changed, invalidated);
    }
  }

  // A new object's interfaces, from the snapshot or InterfacesAdded. A
  // device that appears while we discover was just found.
  void AddInterfaces(const std::string& path, GVariant* interfaces) {
    ForEachEntry(interfaces, "a{sa{sv}}", "{&s@a{sv}}",
                 [&](const std::string& interface, GVariant* properties) {
                   if (interface == kAdapterInterface) {
                     ApplyAdapterProperties(properties, &adapters_[path]);
                     ChooseAdapter();
                   }
                   if (interface == kDeviceInterface) {
                     Device& device = devices_[path] = Device();
                     ApplyDeviceProperties(properties, &device);
                     device.heard = discovery_started_;
                     PassOn(device);
                   }
                 });
  }

  void RemoveInterfaces(const std::string& path, const std::vector<std::string>& interfaces) {
    for (const std::string& interface : interfaces) {
      if (interface == kDeviceInterface) devices_.erase(path);
      if (interface == kAdapterInterface && adapters_.erase(path) > 0) ChooseAdapter();
    }
  }

  void ChangeProperties(const std::string& path, const std::string& interface, GVariant* changed,
                        GVariant* invalidated) {
    if (interface == kAdapterInterface) {
      auto adapter = adapters_.find(path);
      if (adapter == adapters_.end()) return;
      ApplyAdapterProperties(changed, &adapter->second);
      ChooseAdapter();
      return;
    }
    if (interface != kDeviceInterface) return;
    Device& device = devices_[path];
    const bool advertised = ApplyDeviceProperties(changed, &device);
    ForgetDeviceProperties(invalidated, &device);
    device.heard = device.heard || (advertised && discovery_started_);
    PassOn(device);
  }

  // The state of the adapters until the scan starts; after that the scan
  // stays with its adapter.
  void ChooseAdapter() {
    if (!have_objects_ || scan_requested_) return;
    if (adapters_.empty()) {
      Report(CentralState::kUnsupported, "BlueZ has no adapter");
      return;
    }
    std::string off;
    for (const auto& [path, powered] : adapters_) {
      if (powered) {
        adapter_path_ = path;
        Report(CentralState::kPoweredOn, "using adapter " + path);
        return;
      }
      off += (off.empty() ? "" : ", ") + path;
    }
    Report(CentralState::kPoweredOff, "no adapter is powered (" + off + ")");
  }

  void Report(CentralState state, std::string detail) {
    if (state_ == state && state_detail_ == detail) return;
    state_ = state;
    state_detail_ = std::move(detail);
    delegate_->OnStateChange(state);
  }

  void CallAdapter(const char* method, GVariant* parameters, GAsyncReadyCallback done) {
    g_dbus_connection_call(bus_.get(), kBluezService, adapter_path_.c_str(), kAdapterInterface,
                           method, parameters, G_VARIANT_TYPE_UNIT, G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, done, this);
  }

  static void OnFilterSet(GObject* source, GAsyncResult* result, gpointer data) {
    BluezPlatform* self = Self(data);
    if (!self->ReplyOrReport("SetDiscoveryFilter", source, result)) return;
    self->discovery_started_ = true;
    self->CallAdapter("StartDiscovery", nullptr, OnDiscoveryStarted);
  }

  static void OnDiscoveryStarted(GObject* source, GAsyncResult* result, gpointer data) {
    BluezPlatform* self = Self(data);
    if (!self->ReplyOrReport("StartDiscovery", source, result)) self->discovery_started_ = false;
  }

  void PassOn(const Device& device) {
    if (!device.heard || !discovery_started_ || !device.address) return;
    const bool holds_service =
        std::any_of(device.uuids.begin(), device.uuids.end(), [&](const std::string& uuid) {
          return g_ascii_strcasecmp(uuid.c_str(), service_.c_str()) == 0;
        });
    if (!holds_service) return;
    delegate_->OnDiscovery({*device.address, device.name, std::nullopt});
  }

  CentralDelegate* delegate_ = nullptr;
  ConnectionPtr bus_;
  bool have_objects_ = false;              // the first snapshot has come
  std::map<std::string, bool> adapters_;   // object path -> powered
  std::map<std::string, Device> devices_;  // object path -> what BlueZ said
  std::optional<CentralState> state_;
  std::string state_detail_;
  std::string adapter_path_;  // chosen when powered on
  std::string service_;       // 128-bit, lower case
  bool scan_requested_ = false;
  bool discovery_started_ = false;  // StartDiscovery sent and not refused
};

}  // namespace

std::unique_ptr<Platform> MakeSystemPlatform() { return std::make_unique<BluezPlatform>(); }

}  // namespace beaconsweep
