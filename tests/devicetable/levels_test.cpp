#include "devicetable/levels.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace corvane {
namespace {

TEST(LevelTablesTest, TablesHoldTheControllersLevels) {
  EXPECT_EQ(VolumeTable().size(), 2u * 37);
  EXPECT_EQ(BassTable().size(), 2u * 9);
  EXPECT_EQ(TrebleTable().size(), 2u * 8);
  EXPECT_EQ(VolumeTable()[0], 63);
  EXPECT_EQ(VolumeTable()[1], 6);
  EXPECT_EQ(VolumeTable()[71], -64);
  EXPECT_EQ(VolumeTable()[72], 27);
  EXPECT_EQ(VolumeTable()[73], -80);
  EXPECT_EQ(TableForKind(5), &VolumeTable());
  EXPECT_EQ(TableForKind(4), &TrebleTable());
  EXPECT_EQ(TableForKind(1), nullptr);
}

TEST(LevelTablesTest, Conversions) {
  EXPECT_EQ(CodeToDb(60, VolumeTable()), 0);
  EXPECT_EQ(CodeToDb(27, VolumeTable()), -80);
  EXPECT_EQ(CodeToDb(2, BassTable()), 0);  // not in the table
  EXPECT_EQ(CodeToDb(-1, TrebleTable()), 0);
  EXPECT_EQ(DbToCode(-11, VolumeTable()), 54);
  EXPECT_EQ(DbToCode(-70, VolumeTable()), 27);
  EXPECT_EQ(DbToCode(-500, VolumeTable()), 27);
  EXPECT_EQ(DbToCode(20, BassTable()), 11);
  EXPECT_EQ(DbToCode(0, VolumeTable()), 60);
  EXPECT_EQ(DbToListPosition(0, VolumeTable()), 5);
  EXPECT_EQ(DbToListPosition(-9, TrebleTable()), 9);
  EXPECT_EQ(DbToListPosition(99, BassTable()), 2);
  EXPECT_EQ(ListPositionToCode(2, BassTable()), 11);
  EXPECT_EQ(ListPositionToCode(99, VolumeTable()), 27);
  EXPECT_EQ(ListPositionToCode(0, TrebleTable()), 10);
  // Every position of every list maps to a code and back.
  for (const LevelTable* t : {&VolumeTable(), &BassTable(), &TrebleTable()}) {
    const auto list = LevelList(*t);
    for (int pos = 2; pos < static_cast<int>(list.size()); ++pos) {
      const int code = ListPositionToCode(pos, *t);
      EXPECT_EQ(DbToListPosition(CodeToDb(code, *t), *t), pos);
      EXPECT_EQ(list[static_cast<size_t>(pos)], std::to_string(CodeToDb(code, *t)) + " db");
    }
  }
}

TEST(LevelTablesTest, ListsAndNames) {
  const auto volume = LevelList(VolumeTable());
  ASSERT_EQ(volume.size(), 39u);
  EXPECT_EQ(volume[0], "Up");
  EXPECT_EQ(volume[1], "Down");
  EXPECT_EQ(volume[2], "6 db");
  EXPECT_EQ(volume[5], "0 db");
  EXPECT_EQ(volume[38], "-80 db");
  EXPECT_EQ(LevelList(BassTable()).size(), 11u);
  EXPECT_EQ(LevelList(TrebleTable()).size(), 10u);
  EXPECT_EQ(LevelList(TrebleTable())[2], "12 db");
  EXPECT_EQ(ComponentType(6), "TurnOn_VolumeDb");
  EXPECT_EQ(ComponentType(7), "");
  EXPECT_EQ(RecordIndex(2, 1), 13);
  EXPECT_EQ(ZoneOfRecord(13), 1);
  EXPECT_EQ(ZoneOfRecord(42), 6);
}

TEST(HexTest, ToHexAndHexValue) {
  EXPECT_EQ(ToHex(0), "00");
  EXPECT_EQ(ToHex(60), "3C");
  EXPECT_EQ(ToHex(255), "FF");
  EXPECT_EQ(ToHex(256), "00");
  EXPECT_EQ(ToHex(-1), "00");
  EXPECT_EQ(HexValue("3c"), 60);
  EXPECT_EQ(HexValue("FFFF"), 65535);
  EXPECT_EQ(HexValue(""), -1);
  EXPECT_EQ(HexValue("12345"), -1);
  EXPECT_EQ(HexValue("0G"), -1);
  EXPECT_EQ(HexValue("7"), 7);
}

}  // namespace
}  // namespace corvane
