#include "devicetable/device_table.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/datetime.h"
#include "core/event_log.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class DeviceTableTest : public ::testing::Test {
 protected:
  DeviceTableTest()
      : wall_(ToDateValue({2026, 3, 4, 5, 6, 7})),
        log_(wall_, &err_),
        ini_(std::make_unique<IniCache>(dir_.path(), log_)) {}

  // A fresh cache and table over the same folder, as after a restart.
  void Restart() {
    table_.reset();
    ini_ = std::make_unique<IniCache>(dir_.path(), log_);
    Load();
  }
  void Load() {
    table_ = std::make_unique<DeviceTable>(*ini_, log_, wall_, settings_);
    table_->CreateDictionaries();
    table_->ReadLastChange();
    table_->BuildX10Dictionary();
    table_->LinkDevicesToModules();
  }
  void Save() {
    table_->SaveLastChange();
    table_->SaveDeviceDictionary();
    ini_->FlushIniCache();
  }
  std::string IniText() { return ReadFile(dir_.File("Corvane.ini")); }

  TempDir dir_;
  ManualWallClock wall_;
  std::ostringstream err_;
  EventLog log_;
  std::unique_ptr<IniCache> ini_;
  Settings settings_;
  std::unique_ptr<DeviceTable> table_;
};

TEST_F(DeviceTableTest, EmptyFileGivesFortyTwoDefaultRecordsAndNoDevices) {
  Load();
  auto& links = table_->LinkDictionary();
  ASSERT_EQ(links.Count(), 42u);
  EXPECT_EQ(links.At(0).first, "Vaux_Aris_700_01");
  EXPECT_EQ(links.At(41).first, "Vaux_Aris_700_2A");
  EXPECT_EQ(links.At(0).second->Name, "Channel1_Source");
  EXPECT_EQ(links.At(41).second->Name, "Channel6_TurnOn_VolumeDb");
  for (int n = 1; n <= 42; ++n) {
    ZoneRecord r = table_->Record(n);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->UIDindex, n);
    EXPECT_EQ(r->Kind, (n - 1) / 6);
    EXPECT_EQ(r->Componentindex, (n - 1) / 6);
    EXPECT_TRUE(r->Used);
    EXPECT_TRUE(r->Controllable);
    EXPECT_EQ(r->Value, 0);
    EXPECT_EQ(r->LastChange, wall_.Now());
  }
  EXPECT_EQ(table_->ZoneRecordOf(2, 1)->UIDindex, 13);  // zone 1 volume
  EXPECT_EQ(table_->ZoneRecordOf(2, 7), nullptr);
  EXPECT_EQ(table_->DeviceDictionary().Count(), 0u);
  EXPECT_NE(links.Find("vaux_aris_700_2a"), nullptr);  // keys ignore letter case
}

// "Off=0;On=1" as the table writes it: name and position joined by \x02,
// the pairs by \x01.
std::string ValueList(std::string text) {
  for (char& c : text) c = c == '=' ? '\x02' : c == ';' ? '\x01' : c;
  return text;
}

TEST_F(DeviceTableTest, ValueListsFollowTheKindAndTheInputNames) {
  settings_.input_name_list = "CD,Radio";
  Load();
  EXPECT_EQ(table_->DefineValues(1), ValueList("Off=0;On=1;Mute=2"));
  const std::string source = table_->DefineValues(0);
  EXPECT_EQ(source.substr(0, 19), ValueList("None=0;CD=1;Radio=2"));
  EXPECT_NE(source.find(ValueList("Input3=3")), std::string::npos);
  EXPECT_NE(source.find(ValueList("Input8=8")), std::string::npos);
  // Volume: 37 levels from 6 db down to -80 db.
  const std::string volume = table_->DefineValues(2);
  EXPECT_EQ(volume.substr(0, 6), ValueList("6 db=0"));
  EXPECT_NE(volume.find(ValueList("-80 db=36")), std::string::npos);
  EXPECT_EQ(table_->DefineValues(5), volume);
  EXPECT_NE(table_->DefineValues(3).find(ValueList("-9 db=8")), std::string::npos);
  EXPECT_NE(table_->DefineValues(4).find(ValueList("-9 db=7")), std::string::npos);
  EXPECT_EQ(table_->DefineValues(9), " ");
  settings_.input_name_list = "a,b,c,d,e,f,g,h,i,j";
  EXPECT_EQ(table_->DefineValues(0).find("i\x02"), std::string::npos);  // only eight inputs
}

TEST_F(DeviceTableTest, StoredLinesDevicesAndFiltersLoad) {
  WriteFile(dir_.File("Corvane.ini"),
            "[Vaux]\r\nVaux_Aris_700_01=1/2/2007 10:00:00;3;Kitchen;True;0;kitchen;False;A1;\r\n"
            "Vaux_Aris_700_02=garbage;2;Den;1;0;;true;a1;50\r\n"
            "Vaux_Aris_700_0D=only;three;fields\r\n"
            "[Devices]\r\nWeather=;temp;hum\r\nkitchen=1/1/2020 1:00:00 PM\r\n=x;y\r\n"
            "[Device Messages]\r\nweather.temp=21.5\r\nweather.hum=40\r\n"
            "[Received]\r\nsrc.a~xap.b=\"tagA;go\"\r\nSRC.A~XAP.B=tagB;\r\n");
  Load();
  ZoneRecord kitchen = table_->Record(1);
  EXPECT_EQ(kitchen->Name, "Kitchen");
  EXPECT_EQ(kitchen->Value, 3);
  EXPECT_EQ(kitchen->Tag, "kitchen");
  EXPECT_EQ(kitchen->X10, "A1");
  EXPECT_EQ(FormatGeneralDate(kitchen->LastChange), "1/2/2007 10:00:00 AM");
  // A bad date gives now; the first record with an X10 address wins.
  ZoneRecord den = table_->Record(2);
  EXPECT_EQ(den->LastChange, wall_.Now());
  EXPECT_TRUE(den->EventNotification);
  EXPECT_EQ(den->LastCommand, "50");
  EXPECT_EQ(*table_->X10Dictionary().Find("a1"), kitchen);
  EXPECT_EQ(table_->X10Dictionary().Count(), 1u);
  // A line with the wrong field count leaves the record as a fresh one of
  // its own kind, and is reported.
  ZoneRecord volume1 = table_->Record(13);
  EXPECT_EQ(volume1->Kind, 2);
  EXPECT_EQ(volume1->Name, "Channel1_VolumeDb");
  EXPECT_NE(err_.str().find("Vaux_Aris_700_0D holds 3 fields"), std::string::npos);

  auto& devices = table_->DeviceDictionary();
  ASSERT_EQ(devices.Count(), 2u);  // the line without a tag is skipped
  DeviceRecord weather = *devices.Find("WEATHER");
  EXPECT_EQ(FormatGeneralDate(weather->LastChange), "1/1/2000");
  EXPECT_EQ(weather->MessageKeyList, (std::vector<std::string>{"temp", "hum"}));
  EXPECT_EQ(*weather->MessageList.Find("weather.temp"), "21.5");
  EXPECT_EQ(*weather->MessageList.Find("Weather.Hum"), "40");
  EXPECT_EQ(weather->Link, nullptr);
  EXPECT_EQ((*devices.Find("kitchen"))->Link, kitchen);  // linked to its zone record

  auto& filters = table_->FilterDictionary();
  ASSERT_EQ(filters.Count(), 1u);  // quotes removed, the first of two equal keys kept
  EXPECT_EQ(*filters.Find("SRC.A~XAP.B"), "tagA;go");
}

TEST_F(DeviceTableTest, RecordsAndDevicesSurviveARestartUnchanged) {
  Load();
  ZoneRecord r = table_->Record(20);
  r->Name = "Lounge_Bass";
  r->Value = 7;
  r->Used = false;
  r->Tag = "bass";
  r->EventNotification = true;
  r->X10 = "B2";
  r->LastCommand = "50%;x";  // a ";" would break the stored line
  r->LastChange = ToDateValue({2025, 12, 6, 20, 5, 9});
  auto dev = std::make_shared<DeviceClass>();
  dev->Tag = "Weather";
  dev->LastChange = ToDateValue({2025, 1, 2, 3, 4, 5});
  dev->MessageKeyList = {"Weather.Temp", "Weather.Hum"};
  dev->MessageList.Add("Weather.Temp", "21.5");
  dev->MessageList.Add("Weather.Hum", "40 %");
  table_->DeviceDictionary().Add("Weather", dev);
  Save();
  EXPECT_NE(IniText().find("Vaux_Aris_700_14=12/6/2025 8:05:09 PM;7;Lounge_Bass;False;3;bass;True;"
                           "B2;50%,x"),
            std::string::npos)
      << IniText();

  Restart();
  ZoneRecord again = table_->Record(20);
  EXPECT_EQ(again->Name, "Lounge_Bass");
  EXPECT_EQ(again->Value, 7);
  EXPECT_FALSE(again->Used);
  EXPECT_TRUE(again->EventNotification);
  EXPECT_EQ(again->LastCommand, "50%,x");
  EXPECT_EQ(again->LastChange, r->LastChange);
  DeviceRecord w = *table_->DeviceDictionary().Find("weather");
  EXPECT_EQ(w->LastChange, dev->LastChange);
  EXPECT_EQ(*w->MessageList.Find("weather.weather.hum"), "40 %");
  EXPECT_EQ((*table_->DeviceDictionary().Find("bass"))->Link, again);
  Save();
  // From now on a restart leaves the file exactly as it was.
  const std::string settled = IniText();
  Restart();
  Save();
  EXPECT_EQ(IniText(), settled);
  // Saving no devices clears their sections ("Weather" and "weather.*").
  table_->DeviceDictionary().Clear();
  Save();
  EXPECT_EQ(IniText().find("eather"), std::string::npos) << IniText();
  EXPECT_NE(IniText().find("Vaux_Aris_700_2A"), std::string::npos);
}

// A change is stored and numbered; the xAP reporter and the MQTT side both
// hear every change of a used record, and one that fails does not silence
// the others.
TEST_F(DeviceTableTest, EveryObserverHearsEachChangeInTurn) {
  std::vector<std::string> heard;
  struct Named : ZoneChangeObserver {
    std::vector<std::string>& heard;
    std::string name;
    bool fail = false;
    Named(std::vector<std::string>& h, std::string n, bool f = false)
        : heard(h), name(std::move(n)), fail(f) {}
    void NotifyUPBState(const ZoneRecord& r) override {
      heard.push_back(name + std::to_string(r->UIDindex));
      if (fail) throw std::runtime_error("observer failed");
    }
  } first(heard, "xap", true), second(heard, "mqtt"), third(heard, "more");
  Load();
  table_->SetObserver(&first);
  table_->AddObserver(&second);
  table_->AddObserver(&third);
  table_->ChangeEvent(table_->Record(9), 1);
  ZoneRecord unused = table_->Record(10);
  unused->Used = false;
  wall_.Set(ToDateValue({2026, 5, 5, 1, 2, 3}));
  table_->ChangeEvent(unused, 1);
  EXPECT_EQ(unused->Value, 1);
  EXPECT_EQ(unused->Sequence, 2);
  EXPECT_EQ(unused->LastChange, wall_.Now());
  table_->RemoveObserver(&third);
  table_->ChangeEvent(table_->Record(9), 2);
  EXPECT_EQ(table_->Record(9)->Value, 2);
  EXPECT_EQ(table_->ChangeSequence(), 3);
  EXPECT_EQ(heard, (std::vector<std::string>{"xap9", "mqtt9", "more9", "xap9", "mqtt9"}));
}

TEST(DictionaryTest, KeepsOrderAndIgnoresCase) {
  Dictionary<int> d;
  EXPECT_TRUE(d.Add("b", 1));
  EXPECT_TRUE(d.Add("A", 2));
  EXPECT_FALSE(d.Add("B", 3));
  d.Set("c", 4);
  d.Set("a", 5);
  ASSERT_EQ(d.Count(), 3u);
  EXPECT_EQ(d.At(1).first, "A");
  EXPECT_EQ(d.At(1).second, 5);
  EXPECT_TRUE(d.Remove("B"));
  EXPECT_EQ(d.At(0).first, "A");
  EXPECT_EQ(*d.Find("C"), 4);
  EXPECT_FALSE(d.Exists("b"));
}

}  // namespace
}  // namespace corvane
