#include "bridge/endpoint.h"

#include "core/text.h"
#include "devicetable/levels.h"
#include "devicetable/device_table.h"

namespace corvane {

std::array<std::string, 3> EndpointNames(const UPBLinkState& record) {
  return {"Corvane_" + record.Name, DeviceTable::RecordKey(record.UIDindex),
          std::string(ComponentType(record.Componentindex))};
}

std::string EndpointSubAddress(const UPBLinkState& record) {
  const auto names = EndpointNames(record);
  return names[0] + "." + names[1] + "." + names[2];
}

std::string EndpointUID(std::string_view base_uid, const UPBLinkState& record) {
  std::string uid(base_uid.substr(0, base_uid.size() >= 2 ? base_uid.size() - 2 : 0));
  return uid + ToHex(record.UIDindex);
}

std::optional<SubAddressPattern> SubAddressPattern::FromTarget(std::string_view target) {
  const size_t colon = target.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  SubAddressPattern pattern;
  const std::string_view sub = target.substr(colon + 1);
  if (sub.empty()) return pattern;
  const auto parts = Split(sub, '.');
  for (size_t i = 0; i < parts.size() && i < pattern.parts_.size(); ++i) {
    if (parts[i] == ">") break;
    pattern.parts_[i] = ToLower(parts[i]);
  }
  return pattern;
}

bool SubAddressPattern::Matches(const UPBLinkState& record) const {
  const auto names = EndpointNames(record);
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (parts_[i] != "*" && parts_[i] != ToLower(names[i])) return false;
  }
  return true;
}

}  // namespace corvane
