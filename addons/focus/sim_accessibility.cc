#include "addons/focus/sim_accessibility.h"

#include <cstddef>
#include <utility>

namespace focusprobe {

AttributeResult SimElement::CopyAttribute(const std::string& attribute) const {
  reads_.push_back(attribute);
  const auto found = attributes_.find(attribute);
  if (found != attributes_.end()) return found->second;
  AttributeResult missing;
  missing.error = missing_error_;
  return missing;
}

SimElement& SimElement::Set(const std::string& attribute, AttributeValue value) {
  AttributeResult& result = attributes_[attribute];
  result.error = kErrorSuccess;
  result.value = std::move(value);
  return *this;
}

SimElement& SimElement::SetString(const std::string& attribute, std::string_view utf8) {
  return Set(attribute, AttributeValue::String(TextFromUtf8(utf8)));
}

SimElement& SimElement::SetPoint(const std::string& attribute, double x, double y) {
  return Set(attribute, AttributeValue::PointValue(Point{x, y}));
}

SimElement& SimElement::SetError(const std::string& attribute, int error) {
  AttributeResult& result = attributes_[attribute];
  result.error = error;
  result.value = AttributeValue();
  return *this;
}

std::shared_ptr<SimElement> SimElement::AddChild() {
  auto child = std::make_shared<SimElement>();
  AppendChild(child);
  return child;
}

void SimElement::AppendChild(ElementRef child) {
  AttributeResult& children = attributes_["AXChildren"];
  if (children.error != kErrorSuccess || children.value.kind != AttributeValue::Kind::kArray) {
    children.error = kErrorSuccess;
    children.value = AttributeValue::Array({});
  }
  children.value.items.push_back(AttributeValue::ElementValue(std::move(child)));
}

std::unique_ptr<SimPlatform> MissingPermissionPlatform() {
  auto platform = std::make_unique<SimPlatform>();
  platform->trusted = false;
  platform->system_wide = std::make_shared<SimElement>(kErrorApiDisabled);
  return platform;
}

}  // namespace focusprobe
