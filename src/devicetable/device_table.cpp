#include "devicetable/device_table.h"

#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/datetime.h"
#include "core/event_log.h"
#include "core/guard.h"
#include "core/text.h"
#include "devicetable/levels.h"
#include "platform/clock.h"

namespace corvane {

namespace {

constexpr std::string_view kRecordKeyPrefix = "Vaux_Aris_700_";
constexpr std::string_view kDevicesSection = "Devices";
constexpr std::string_view kDeviceMessagesSection = "Device Messages";
constexpr std::string_view kReceivedSection = "Received";
constexpr size_t kZoneLineFields = 9;
constexpr size_t kInputCount = 8;

std::string TrueFalse(bool b) {
  return b ? "True" : "False";
}

// A stored line is split at ";": a field holding one would shift every later
// field and the whole line would be refused at the next start.
std::string Field(std::string_view s) {
  return ReplaceAll(s, ";", ",");
}

int16_t Int16Or0(double v) {
  auto r = ToInt16(v);
  return r ? *r : 0;
}

double NeverChanged() {
  return ToDateValue(CivilDateTime{2000, 1, 1, 0, 0, 0});
}

}  // namespace

DeviceTable::DeviceTable(IniCache& ini, EventLog& log, const WallClock& wall,
                         const Settings& settings)
    : ini_(ini), log_(log), wall_(wall), settings_(settings) {}

void DeviceTable::Report(std::string_view routine, std::string_view what) const {
  log_.LogError("Corvane", routine, what);
}

int32_t DeviceTable::NextSequence() {
  change_sequence_ = change_sequence_ == INT32_MAX ? 1 : change_sequence_ + 1;
  return change_sequence_;
}

std::string DeviceTable::RecordKey(int uid_index) {
  return std::string(kRecordKeyPrefix) + ToHex(uid_index);
}

ZoneRecord DeviceTable::Record(int uid_index) const {
  if (uid_index < 1 || uid_index > kZoneRecordCount) return nullptr;
  const ZoneRecord* r = link_dictionary_.Find(RecordKey(uid_index));
  return r ? *r : nullptr;
}

ZoneRecord DeviceTable::ZoneRecordOf(int kind, int zone) const {
  if (kind < 0 || kind >= kAttributeCount || zone < 1 || zone > kZoneCount) return nullptr;
  return Record(RecordIndex(kind, zone));
}

std::string DeviceTable::DefineValues(int kind) const {
  std::vector<std::string> texts;
  if (kind == kSourceKind) {
    texts = {"None"};
    for (size_t i = 1; i <= kInputCount; ++i) texts.push_back("Input" + std::to_string(i));
    const auto names = Split(settings_.input_name_list, ',');
    for (size_t i = 0; i < names.size() && i < kInputCount; ++i) texts[i + 1] = names[i];
  } else if (kind == kStatusKind) {
    texts = StatusList();
  } else if (const LevelTable* table = TableForKind(kind)) {
    const auto list = LevelList(*table);
    texts.assign(list.begin() + 2, list.end());
  } else {
    return " ";
  }
  std::string out;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i) out.push_back('\x01');
    out += texts[i];
    out.push_back('\x02');
    out += std::to_string(i);
  }
  return out;
}

void DeviceTable::CreateDictionaries() {
  link_dictionary_.Clear();
  x10_dictionary_.Clear();
  filter_dictionary_.Clear();
  InitFilterDictionary();
  device_dictionary_.Clear();
  InitDeviceDictionary();
}

void DeviceTable::ReadLastChange() {
  Guard(log_, "ReadLastChange", [&] {
    const auto& attributes = ZoneAttributes();
    link_dictionary_.Clear();
    int n = 0;
    for (int f = 0; f < kAttributeCount; ++f) {
      for (int z = 0; z < kZoneCount; ++z) {
        ++n;
        const std::string key = RecordKey(n);
        auto record = std::make_shared<UPBLinkState>();
        // One record that cannot be read starts fresh; the others still load.
        std::string stored;
        Guard(log_, "ReadLastChange",
              [&] { stored = ini_.GetIniSetting(kSettingsSection, key, "", kMainIniFile); });
        std::vector<std::string> fields;
        if (!stored.empty()) fields = Split(stored, ';');
        if (fields.size() == kZoneLineFields) {
          auto date = ParseDateTime(fields[0]);
          record->LastChange = date ? *date : wall_.Now();
          record->Value = Int16Or0(LeadingNumber(fields[1]));
          record->Name = fields[2];
          record->Used = IniBool(fields[3]);
          if (IsNumeric(fields[4])) {
            record->Kind = Int16Or0(LeadingNumber(fields[4]));
          } else {
            record->Kind = static_cast<int16_t>(f);
            Report("ReadLastChange", key + ": kind '" + fields[4] + "' is not a number");
          }
          record->Tag = fields[5];
          record->EventNotification = IniBool(fields[6]);
          record->X10 = fields[7];
          record->LastCommand = fields[8];
        } else {
          // No line, or one that cannot be read: the record starts afresh
          // with its own kind, so commands for it still reach its attribute.
          if (!stored.empty()) {
            Report("ReadLastChange", key + " holds " + std::to_string(fields.size()) +
                                         " fields instead of 9; defaults used");
          }
          record->LastChange = wall_.Now();
          record->Value = 0;
          record->Name =
              "Channel" + std::to_string(z + 1) + "_" + attributes[static_cast<size_t>(f)];
          record->Used = true;
          record->Kind = static_cast<int16_t>(f);
        }
        record->UIDindex = static_cast<int16_t>(n);
        record->Componentindex = static_cast<int16_t>(f);
        record->Values = DefineValues(record->Kind);
        record->Controllable = true;
        link_dictionary_.Add(key, std::move(record));
      }
    }
  });
}

void DeviceTable::BuildX10Dictionary() {
  Guard(log_, "BuildX10Dictionary", [&] {
    x10_dictionary_.Clear();
    for (const auto& [key, record] : link_dictionary_) {
      if (!record->X10.empty()) x10_dictionary_.Add(record->X10, record);  // first one wins
    }
  });
}

void DeviceTable::LinkDevicesToModules() {
  Guard(log_, "LinkDevicesToModules", [&] {
    for (const auto& [key, record] : link_dictionary_) {
      if (record->Tag.empty()) continue;
      if (DeviceRecord* existing = device_dictionary_.Find(record->Tag)) {
        (*existing)->Link = record;
      } else {
        auto device = std::make_shared<DeviceClass>();
        device->Tag = record->Tag;
        device->Link = record;
        device_dictionary_.Add(record->Tag, std::move(device));
      }
    }
  });
}

void DeviceTable::InitFilterDictionary() {
  Guard(log_, "InitFilterDictionary", [&] {
    filter_dictionary_.Clear();
    const std::string section = RemoveQuotes(ini_.GetINISection(kReceivedSection, kMainIniFile));
    for (const auto& line : Split(section, '\0')) {
      if (line.empty()) continue;
      const auto parts = Split(line, '=');
      if (parts[0].empty() || filter_dictionary_.Exists(parts[0])) continue;
      filter_dictionary_.Add(parts[0], parts.size() > 1 ? parts[1] : "");
    }
  });
}

void DeviceTable::InitDeviceDictionary() {
  Guard(log_, "InitDeviceDictionary", [&] {
    device_dictionary_.Clear();
    const std::string section = RemoveQuotes(ini_.GetINISection(kDevicesSection, kMainIniFile));
    if (section.empty()) return;
    for (const auto& line : Split(section, '\0')) {
      if (line.empty()) continue;
      const auto parts = Split(line, '=');
      const std::string& tag = parts[0];
      if (tag.empty() || device_dictionary_.Exists(tag)) continue;
      auto device = std::make_shared<DeviceClass>();
      const auto fields = Split(parts.size() > 1 ? parts[1] : std::string(), ';');
      auto date = ParseDateTime(fields[0]);
      device->LastChange = date ? *date : NeverChanged();
      for (size_t m = 1; m < fields.size(); ++m) {
        const std::string item_key = ToLower(tag + "." + fields[m]);
        device->MessageKeyList.push_back(ToLower(fields[m]));
        device->MessageList.Set(
            item_key, ini_.GetIniSetting(kDeviceMessagesSection, item_key, "", kMainIniFile));
      }
      device->Tag = tag;
      device_dictionary_.Add(tag, std::move(device));
    }
  });
}

void DeviceTable::SaveLastChange() {
  for (const auto& [key, r] : link_dictionary_) {
    const std::string line =
        FormatGeneralDate(r->LastChange) + ";" + std::to_string(r->Value) + ";" + Field(r->Name) +
        ";" + TrueFalse(r->Used) + ";" + std::to_string(r->Kind) + ";" + Field(r->Tag) + ";" +
        TrueFalse(r->EventNotification) + ";" + Field(r->X10) + ";" + Field(r->LastCommand);
    // Each record on its own: one that cannot be stored does not keep the rest from disk.
    Guard(log_, "SaveLastChange",
          [&, &key = key] { ini_.SaveIniSetting(kSettingsSection, key, line, kMainIniFile); });
  }
}

void DeviceTable::SaveDeviceDictionary() {
  Guard(log_, "SaveDeviceDictionary", [&] {
    ini_.ClearINISection(kDevicesSection, kMainIniFile);
    ini_.ClearINISection(kDeviceMessagesSection, kMainIniFile);
    if (device_dictionary_.Empty()) return;
    for (const auto& [tag, device] : device_dictionary_) {
      std::string line = FormatGeneralDate(device->LastChange);
      for (const auto& item_key : device->MessageKeyList) {
        line += ';';
        line += Field(item_key);
      }
      ini_.SaveIniSetting(kDevicesSection, tag, line, kMainIniFile);
      const size_t n = std::min(device->MessageList.Count(), device->MessageKeyList.size());
      for (size_t j = 0; j < n; ++j) {
        ini_.SaveIniSetting(kDeviceMessagesSection, tag + "." + Field(device->MessageKeyList[j]),
                            device->MessageList.At(j).second, kMainIniFile);
      }
    }
    ini_.FlushIniCache();
  });
}

void DeviceTable::ChangeEvent(const ZoneRecord& record, int16_t value) {
  if (!record) return;
  record->LastChange = wall_.Now();
  record->Sequence = NextSequence();
  record->Value = value;
  if (!record->Used) return;
  // Each observer on its own: one that fails does not silence the next.
  if (observer_) Guard(log_, "ChangeEvent", [&] { observer_->NotifyUPBState(record); });
  for (ZoneChangeObserver* observer : std::vector<ZoneChangeObserver*>(more_observers_)) {
    Guard(log_, "ChangeEvent", [&] { observer->NotifyUPBState(record); });
  }
}

void DeviceTable::AddObserver(ZoneChangeObserver* observer) {
  if (observer) more_observers_.push_back(observer);
}

void DeviceTable::RemoveObserver(ZoneChangeObserver* observer) {
  std::erase(more_observers_, observer);
}

}  // namespace corvane
