// The device table: the 42 zone records, the tagged device records, the four
// dictionaries that index them, the change counter, and their persistence in
// Corvane.ini (sections Vaux, Devices, Device Messages and Received).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "devicetable/dictionary.h"
#include "devicetable/records.h"

namespace corvane {

class EventLog;
class IniCache;
class WallClock;
struct Settings;

// Told of every value change of a used zone record (the xAP side announces
// it and queues script events).
class ZoneChangeObserver {
 public:
  virtual ~ZoneChangeObserver() = default;
  virtual void NotifyUPBState(const ZoneRecord& record) = 0;
};

class DeviceTable {
 public:
  DeviceTable(IniCache& ini, EventLog& log, const WallClock& wall, const Settings& settings);

  Dictionary<ZoneRecord>& LinkDictionary() { return link_dictionary_; }
  Dictionary<ZoneRecord>& X10Dictionary() { return x10_dictionary_; }
  Dictionary<DeviceRecord>& DeviceDictionary() { return device_dictionary_; }
  // xAP source "~" class -> tag ";" event text.
  Dictionary<std::string>& FilterDictionary() { return filter_dictionary_; }
  const Dictionary<ZoneRecord>& LinkDictionary() const { return link_dictionary_; }

  int32_t ChangeSequence() const { return change_sequence_; }
  // Adds 1 to the change counter and gives the new count.
  int32_t NextSequence();

  // "Vaux_Aris_700_" + two hex digits of the record number.
  static std::string RecordKey(int uid_index);
  // The zone record with this number, or none.
  ZoneRecord Record(int uid_index) const;
  // The record of attribute `kind` (0..6) of `zone` (1..6), or none.
  ZoneRecord ZoneRecordOf(int kind, int zone) const;

  // The value list of a kind: each display text followed by character 2 and
  // its index, entries joined by character 1.
  std::string DefineValues(int kind) const;

  // Start-up: empties the four dictionaries, loading the filters and then
  // the device records.
  void CreateDictionaries();
  void ReadLastChange();
  void BuildX10Dictionary();
  void LinkDevicesToModules();
  void InitFilterDictionary();
  void InitDeviceDictionary();
  // Shutdown: each zone record's line, then the device records (flushes).
  void SaveLastChange();
  void SaveDeviceDictionary();

  // A value change: stores time, sequence number and value, and tells the
  // observer when the record is used.
  void ChangeEvent(const ZoneRecord& record, int16_t value);
  void SetObserver(ZoneChangeObserver* observer) { observer_ = observer; }
  // Further observers, told after the one above in the order added (the
  // MQTT side sees the same changes as the xAP side).
  void AddObserver(ZoneChangeObserver* observer);
  void RemoveObserver(ZoneChangeObserver* observer);

 private:
  void Report(std::string_view routine, std::string_view what) const;

  IniCache& ini_;
  EventLog& log_;
  const WallClock& wall_;
  const Settings& settings_;
  ZoneChangeObserver* observer_ = nullptr;
  std::vector<ZoneChangeObserver*> more_observers_;

  Dictionary<ZoneRecord> link_dictionary_;
  Dictionary<ZoneRecord> x10_dictionary_;
  Dictionary<DeviceRecord> device_dictionary_;
  Dictionary<std::string> filter_dictionary_;
  int32_t change_sequence_ = 0;
};

}  // namespace corvane
