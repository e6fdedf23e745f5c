// The setup form's binding of boxes to settings: 13 boxes, load with the
// form defaults, save all, and the port-change rule.
#include "ui/setup_form.h"

#include <gtest/gtest.h>

#include <map>

#include "config/settings.h"

namespace corvane {
namespace {

TEST(SetupForm, LoadShowsStoredValuesAndFormDefaults) {
  SetupForm form(SettingsKeyList(), FormDefaults());
  std::map<std::string, std::string, std::less<>> ini = {{"upbcommport", "/dev/ttyUSB0"}};
  std::vector<std::string> asked;
  auto boxes = form.Load([&](std::string_view key, std::string_view def) {
    asked.emplace_back(key);
    auto it = ini.find(key);
    return it == ini.end() ? std::string(def) : it->second;
  });
  ASSERT_EQ(asked.size(), 13u);
  EXPECT_EQ(asked[12], "showreceivemessages");  // keys 13 to 16 are not on the form
  EXPECT_EQ(boxes[0], "/dev/ttyUSB0");
  EXPECT_EQ(boxes[3], "false");       // form default of debuglog
  EXPECT_EQ(boxes[6], "FF.0022:00");  // uid
  EXPECT_EQ(boxes[7], "true");        // showsetup's form default differs from the loader's
  EXPECT_EQ(boxes[11], "2");          // showstatus: the loader's default is 0
  EXPECT_EQ(SetupForm::Captions()[0], "Vaux Comm Port");
  EXPECT_EQ(SetupForm::Captions()[12], "Up/Down Increment");
}

TEST(SetupForm, UnloadSavesEveryBoxAndReportsAPortChange) {
  SetupForm form(SettingsKeyList(), FormDefaults());
  SetupForm::Boxes boxes;
  boxes[0] = "COM2";
  boxes[2] = "8020";
  std::map<std::string, std::string, std::less<>> saved;
  auto write = [&](std::string_view k, std::string_view v) { saved[std::string(k)] = v; };
  EXPECT_TRUE(form.Unload(boxes, "COM1", write));
  EXPECT_EQ(saved.size(), 13u);
  EXPECT_EQ(saved["httpport"], "8020");
  EXPECT_EQ(saved["serialip"], "");  // an empty box stores an empty value
  EXPECT_FALSE(form.Unload(boxes, "COM2", write));
  EXPECT_THROW(SetupForm({"a"}, {"b"}), std::invalid_argument);  // a short key list
}

}  // namespace
}  // namespace corvane
