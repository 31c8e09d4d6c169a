'''BlueZ stand-in for beaconsweep's tests: a python-dbusmock template, loaded
with --template PATH.

The adapter is in the object tree as soon as the template has loaded, with
the discovery methods as BlueZ documents them (org.bluez.Adapter(5)):
SetDiscoveryFilter checks its keys and their D-Bus types, StartDiscovery and
SetDiscoveryFilter need a powered adapter, StopDiscovery a running
discovery. dbusmock records every call (GetMethodCalls on the adapter's
object). The filter is not applied: BlueZ merges the filters of all its
clients, so a client sees devices it did not ask for, and the tests play
such devices too.

Parameters (a JSON object, every key optional):
  "adapter": the adapter's name under /org/bluez, default "hci0"; null for
      a system without adapter
  "powered": whether the adapter is on, default true
  "cached": devices BlueZ keeps from earlier scans, in the tree from the
      start with their old properties and no RSSI, as a list of
      {"address": "AA:BB:CC:DD:EE:FF", "name": "...", "uuids": ["..."]}

Test methods, on org.bluez.Mock at /, only while a discovery runs (nothing
is heard otherwise):
  AddLEDevice(s address, a{sv} advertised) -> o
      a new device heard advertising: a Device1 object, announced with
      InterfacesAdded
  Advertise(s address, a{sv} advertised)
      a known device heard again: one PropertiesChanged with what changed
Advertised properties, typed here as BlueZ types them whatever the caller
sent: Name (s), RSSI and TxPower (n), UUIDs (as), ServiceData ({uuid: bytes},
a{sv} of ay), ManufacturerData ({company id: bytes}, a{qv} of ay).
Adapter power changes go through dbusmock's own UpdateProperties on the
adapter's object.
'''

import dbus

from dbusmock import OBJECT_MANAGER_IFACE, mockobject

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

BLUEZ_MOCK_IFACE = 'org.bluez.Mock'
ADAPTER_IFACE = 'org.bluez.Adapter1'
DEVICE_IFACE = 'org.bluez.Device1'

# Discovery filter keys and the D-Bus type BlueZ requires of each.
FILTER_TYPES = {
    'UUIDs': 'as',
    'RSSI': 'n',
    'Pathloss': 'q',
    'Transport': 's',
    'DuplicateData': 'b',
    'Discoverable': 'b',
    'Pattern': 's',
    'AutoConnect': 'b',
}
TRANSPORTS = ('auto', 'bredr', 'le')


def bluez_error(name, message):
    return dbus.exceptions.DBusException(message, name='org.bluez.Error.' + name)


def type_of(value):
    '''The D-Bus signature of a value as dbus-python received it.'''
    if isinstance(value, dbus.Array):
        return 'a' + (value.signature or '')
    for dbus_type, signature in ((dbus.Boolean, 'b'), (dbus.Int16, 'n'), (dbus.UInt16, 'q'),
                                 (dbus.String, 's')):
        if isinstance(value, dbus_type):
            return signature
    return type(value).__name__


def byte_array(data):
    return dbus.Array([dbus.Byte(int(b)) for b in data], signature='y', variant_level=1)


def typed_advertised(advertised):
    '''The advertised properties typed as BlueZ types them.'''
    converters = {
        'Name': lambda v: dbus.String(v, variant_level=1),
        'RSSI': lambda v: dbus.Int16(v, variant_level=1),
        'TxPower': lambda v: dbus.Int16(v, variant_level=1),
        'UUIDs': lambda v: dbus.Array([str(u) for u in v], signature='s', variant_level=1),
        'ServiceData': lambda v: dbus.Dictionary(
            {str(k): byte_array(d) for k, d in v.items()}, signature='sv', variant_level=1),
        'ManufacturerData': lambda v: dbus.Dictionary(
            {dbus.UInt16(int(k)): byte_array(d) for k, d in v.items()}, signature='qv',
            variant_level=1),
    }
    typed = {}
    for key, value in advertised.items():
        if key not in converters:
            raise bluez_error('InvalidArguments', f'not an advertised property: {key}')
        typed[str(key)] = converters[key](value)
    return typed


def adapter_of(mock):
    if mock.adapter_path is None or mock.adapter_path not in mockobject.objects:
        raise bluez_error('NotReady', 'no adapter')
    return mockobject.objects[mock.adapter_path]


def require_powered(adapter):
    if not adapter.props[ADAPTER_IFACE]['Powered']:
        raise bluez_error('NotReady', 'Resource Not Ready')


def SetDiscoveryFilter(adapter, discovery_filter):
    require_powered(adapter)
    for key, value in discovery_filter.items():
        if key not in FILTER_TYPES:
            raise bluez_error('InvalidArguments', f'unknown filter key {key}')
        if type_of(value) != FILTER_TYPES[key]:
            raise bluez_error('InvalidArguments',
                              f'{key} must be {FILTER_TYPES[key]}, not {type_of(value)}')
        if key == 'Transport' and value not in TRANSPORTS:
            raise bluez_error('InvalidArguments', f'unknown transport {value}')
    adapter.discovery_filter = dict(discovery_filter)


def set_discovering(adapter, discovering):
    adapter.props[ADAPTER_IFACE]['Discovering'] = dbus.Boolean(discovering, variant_level=1)
    adapter.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as', [
        ADAPTER_IFACE, {'Discovering': dbus.Boolean(discovering, variant_level=1)}, []])


def StartDiscovery(adapter):
    require_powered(adapter)
    if adapter.props[ADAPTER_IFACE]['Discovering']:
        raise bluez_error('InProgress', 'Operation already in progress')
    set_discovering(adapter, True)


def StopDiscovery(adapter):
    if not adapter.props[ADAPTER_IFACE]['Discovering']:
        raise bluez_error('Failed', 'No discovery started')
    set_discovering(adapter, False)


def add_adapter(mock, name, powered):
    path = '/org/bluez/' + name
    mock.AddObject(path, ADAPTER_IFACE, {
        'Address': dbus.String('00:11:22:33:44:55', variant_level=1),
        'AddressType': dbus.String('public', variant_level=1),
        'Name': dbus.String('stand-in', variant_level=1),
        'Alias': dbus.String('stand-in', variant_level=1),
        'Powered': dbus.Boolean(powered, variant_level=1),
        'Discoverable': dbus.Boolean(False, variant_level=1),
        'Discovering': dbus.Boolean(False, variant_level=1),
        'UUIDs': dbus.Array([], signature='s', variant_level=1),
    }, [
        ('SetDiscoveryFilter', 'a{sv}', '', SetDiscoveryFilter),
        ('StartDiscovery', '', '', StartDiscovery),
        ('StopDiscovery', '', '', StopDiscovery),
    ])
    mockobject.objects[path].discovery_filter = None
    return path


def device_path(mock, address):
    return mock.adapter_path + '/dev_' + address.replace(':', '_').upper()


def add_device(mock, address, properties):
    '''A Device1 object with BlueZ's fixed properties and `properties`.'''
    path = device_path(mock, address)
    if path in mockobject.objects:
        raise bluez_error('AlreadyExists', f'{address} is known already')
    name = properties.get('Name')
    device = {
        'Address': dbus.String(address, variant_level=1),
        'AddressType': dbus.String('random', variant_level=1),
        # Without a name BlueZ makes the alias from the address.
        'Alias': dbus.String(name if name is not None else address.replace(':', '-'),
                             variant_level=1),
        'Adapter': dbus.ObjectPath(mock.adapter_path, variant_level=1),
        'Paired': dbus.Boolean(False, variant_level=1),
        'Bonded': dbus.Boolean(False, variant_level=1),
        'Trusted': dbus.Boolean(False, variant_level=1),
        'Blocked': dbus.Boolean(False, variant_level=1),
        'Connected': dbus.Boolean(False, variant_level=1),
        'LegacyPairing': dbus.Boolean(False, variant_level=1),
        'ServicesResolved': dbus.Boolean(False, variant_level=1),
        'UUIDs': dbus.Array([], signature='s', variant_level=1),
    }
    device.update(properties)
    mock.AddObject(path, DEVICE_IFACE, device, [])
    return path


def require_discovering(mock):
    adapter = adapter_of(mock)
    if not adapter.props[ADAPTER_IFACE]['Discovering']:
        raise dbus.exceptions.DBusException('no discovery runs: nothing is heard',
                                            name=BLUEZ_MOCK_IFACE + '.NotDiscovering')


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sa{sv}', out_signature='o')
def AddLEDevice(self, address, advertised):
    require_discovering(self)
    path = add_device(self, str(address), typed_advertised(advertised))
    self.EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}', [
        dbus.ObjectPath(path), {DEVICE_IFACE: mockobject.objects[path].props[DEVICE_IFACE]}])
    return path


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sa{sv}', out_signature='')
def Advertise(self, address, advertised):
    require_discovering(self)
    path = device_path(self, str(address))
    if path not in mockobject.objects:
        raise dbus.exceptions.DBusException(f'no device {address}',
                                            name=BLUEZ_MOCK_IFACE + '.NoSuchDevice')
    device = mockobject.objects[path]
    changed = typed_advertised(advertised)
    if 'Name' in changed:
        changed['Alias'] = changed['Name']
    device.props[DEVICE_IFACE].update(changed)
    device.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                      [DEVICE_IFACE, changed, []])


def load(mock, parameters):
    name = parameters.get('adapter', 'hci0')
    mock.adapter_path = None
    if name is None:
        return
    mock.adapter_path = add_adapter(mock, name, parameters.get('powered', True))
    for cached in parameters.get('cached', []):
        properties = {'UUIDs': dbus.Array(cached.get('uuids', []), signature='s', variant_level=1)}
        if 'name' in cached:
            properties['Name'] = dbus.String(cached['name'], variant_level=1)
        add_device(mock, cached['address'], properties)
