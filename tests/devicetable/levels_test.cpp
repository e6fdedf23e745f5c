#include "devicetable/levels.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

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
  EXPECT_EQ(ListPositionToCode(2, VolumeTable()), 63);  // the loudest, 6 db
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
  ASSERT_EQ(volume.size(), 39u);  // Up, Down and 37 levels from 6 db to -80 db
  EXPECT_EQ(std::vector<std::string>(volume.begin(), volume.begin() + 3),
            (std::vector<std::string>{"Up", "Down", "6 db"}));
  EXPECT_EQ(volume[5], "0 db");
  EXPECT_EQ(volume[38], "-80 db");
  EXPECT_EQ(LevelList(BassTable()).size(), 11u);
  EXPECT_EQ(LevelList(TrebleTable()).size(), 10u);
  EXPECT_EQ(LevelList(TrebleTable())[2], "12 db");
  EXPECT_EQ(TableForKind(5), &VolumeTable());
  EXPECT_EQ(TableForKind(4), &TrebleTable());
  EXPECT_EQ(TableForKind(1), nullptr);
  EXPECT_EQ(ComponentType(6), "TurnOn_VolumeDb");
  EXPECT_EQ(ComponentType(7), "");
  EXPECT_EQ(RecordIndex(2, 1), 13);
  EXPECT_EQ(ZoneOfRecord(13), 1);
  EXPECT_EQ(ZoneOfRecord(42), 6);
}

}  // namespace
}  // namespace corvane
