// The records of the device table. A zone record (UPBLinkState) is one
// attribute of one zone of the controller; a device record (DeviceClass) is
// an entry scripts and pages address by its tag: a zone record that was given
// a tag, or a watched xAP source whose latest items it keeps. Records are
// shared objects: dictionaries, pages, scripts and queued script events all
// refer to the same record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devicetable/dictionary.h"

namespace corvane {

struct UPBLinkState {
  bool Controllable = false;
  int16_t Componentindex = 0;  // attribute index 0..6
  int16_t UIDindex = 0;        // 1..42: record number and xAP sub-address number
  double LastChange = 0;       // date value of the last change of Value
  int16_t Value = 0;           // position of the current text in the Values list
  bool Used = false;           // only used records report their changes
  std::string X10;             // X10 address mapped to this record, or empty
  std::string Tag;             // key of its device record, or empty
  bool EventNotification = false;
  int32_t Sequence = 0;  // change counter at the last change
  // Link settings edited and shown by the status page; not stored.
  int16_t OnCommand = 0;
  int16_t OffCommand = 0;
  std::string OnLink;
  std::string OffLink;
  int16_t DefaultOnCommand = 0;
  int16_t DefaultOffCommand = 0;
  std::string DefaultOnLink;
  std::string DefaultOffLink;
  std::string LastCommand;  // text of the last xAP command applied
  std::string Values;       // the value list of the record's kind
  std::string Name;         // display name
  int16_t Kind = 0;         // value-list kind 0..6
};
using ZoneRecord = std::shared_ptr<UPBLinkState>;

struct DeviceClass {
  double LastChange = 0;
  std::string Tag;
  Dictionary<std::string> MessageList;      // kept item texts by item key
  std::vector<std::string> MessageKeyList;  // item keys in order
  std::string Value;
  ZoneRecord Link;  // the zone record this device stands for, or none
  int32_t Sequence = 0;
};
using DeviceRecord = std::shared_ptr<DeviceClass>;

// A zone record with a value, passed between the inbound handler, the
// command path and the status page.
struct UPBStatus {
  ZoneRecord Link;
  int16_t Value = 0;
};

}  // namespace corvane
