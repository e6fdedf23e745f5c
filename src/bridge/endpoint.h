// How zone records appear on xAP. Each record is a BSC endpoint named by
// three parts: "Corvane_" + its Name, its LinkDictionary key
// ("Vaux_Aris_700_07") and its attribute ("Status"); the parts joined by "."
// are its sub-address. Inbound commands and queries select records with the
// sub-address of their target, part by part, ignoring letter case.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "devicetable/records.h"

namespace corvane {

// xapName, the record's key, ComponentType.
std::array<std::string, 3> EndpointNames(const UPBLinkState& record);
// "Corvane_Channel1_Status.Vaux_Aris_700_07.Status" (stored letter case).
std::string EndpointSubAddress(const UPBLinkState& record);
// The base UID with its last two characters replaced by the record number in
// hex: FF.0022:00 -> FF.0022:07.
std::string EndpointUID(std::string_view base_uid, const UPBLinkState& record);

// The record selection of a BSC target's sub-address: three parts, each "*"
// (any) or a lower-cased name. The sub-address is split at "."; at most its
// first three parts count, and a ">" part ends it (the rest stay "*").
class SubAddressPattern {
 public:
  // Nothing when the target has no ":" (it addresses no endpoint at all).
  static std::optional<SubAddressPattern> FromTarget(std::string_view target);
  bool Matches(const UPBLinkState& record) const;
  const std::string& Part(size_t i) const { return parts_.at(i); }

 private:
  std::array<std::string, 3> parts_{"*", "*", "*"};
};

}  // namespace corvane
