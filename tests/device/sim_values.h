// What the controller link reads from the simulated controller: the start-up
// reads in order, and the list position each zone record takes.
#pragma once

#include <string>
#include <vector>

#include "devicetable/levels.h"
#include "simulator.h"

namespace corvane::testing {

// The fifteen start-up reads (configuration, versions, power-up and status of
// zones 1..6); they are made again after an outage.
inline const std::vector<std::string> kStartupReads = {
    "VPFF3A0640", "VPFE010000", "VPFE040000", "VPFE510100", "VPFE510200",
    "VPFE510300", "VPFE510400", "VPFE510500", "VPFE510600", "VPFE520100",
    "VPFE520200", "VPFE520300", "VPFE520400", "VPFE520500", "VPFE520600"};

// The value of the record of kind `kind` (0 source .. 6 turn-on volume) for zone `z`.
inline int SimRecordValue(const sim::SimZone& z, int kind) {
  if (kind < 2) return kind == 0 ? z.source : z.status;
  const int codes[] = {z.volume, z.bass, z.treble, z.turn_on_mute, z.turn_on_volume};
  const LevelTable& table = kind == 3 ? BassTable() : kind == 4 ? TrebleTable() : VolumeTable();
  return DbToListPosition(CodeToDb(codes[kind - 2], table), table);
}

}  // namespace corvane::testing
