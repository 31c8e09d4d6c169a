#include "addons/focus/accessibility.h"

#include <utility>

namespace focusprobe {
namespace {

AttributeValue OfKind(AttributeValue::Kind kind) {
  AttributeValue value;
  value.kind = kind;
  return value;
}

}  // namespace

Utf16Text WholeText(std::u16string units) {
  Utf16Text text;
  text.length = static_cast<long>(units.size());
  text.units = std::move(units);
  return text;
}

AttributeValue AttributeValue::String(Utf16Text text) {
  AttributeValue value = OfKind(Kind::kString);
  value.text = std::move(text);
  return value;
}

AttributeValue AttributeValue::Boolean(bool flag) {
  AttributeValue value = OfKind(Kind::kBoolean);
  value.boolean = flag;
  return value;
}

AttributeValue AttributeValue::PointValue(Point position) {
  AttributeValue value = OfKind(Kind::kPoint);
  value.point = position;
  return value;
}

AttributeValue AttributeValue::ElementValue(ElementRef ref) {
  AttributeValue value = OfKind(Kind::kElement);
  value.element = std::move(ref);
  return value;
}

AttributeValue AttributeValue::Array(std::vector<AttributeValue> entries) {
  AttributeValue value = OfKind(Kind::kArray);
  value.items = std::move(entries);
  return value;
}

AttributeValue AttributeValue::Other() { return OfKind(Kind::kOther); }

}  // namespace focusprobe
