#include "setup_dialog.h"

#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <stdexcept>

#include "config/settings.h"

namespace corvane {

SetupDialog::SetupDialog(QString home, std::function<bool()> reload, QWidget* parent)
    : QDialog(parent),
      log_(wall_, &log_text_),
      ini_(QDir(home).filePath("Config").toStdString(), log_),
      form_(SettingsKeyList(), FormDefaults()),
      reload_(std::move(reload)) {
  setWindowTitle(QString::fromLatin1(SetupForm::kCaption.data(),
                                     static_cast<qsizetype>(SetupForm::kCaption.size())));
  ini_.AppInitialize();
  auto* grid = new QGridLayout(this);
  const SetupForm::Boxes values = form_.Load([&](std::string_view key, std::string_view def) {
    return ini_.GetIniSetting(kSettingsSection, key, def, kMainIniFile);
  });
  for (size_t i = 0; i < SetupForm::kBoxes; ++i) {
    const std::string_view caption = SetupForm::Captions()[i];
    const int row = static_cast<int>(i);
    grid->addWidget(new QLabel(QString::fromLatin1(caption.data(),
                                                   static_cast<qsizetype>(caption.size()))),
                    row, 0);
    boxes_[i] = new QLineEdit(QString::fromLatin1(values[i].c_str()), this);
    boxes_[i]->setObjectName(QStringLiteral("aIni%1").arg(i));
    grid->addWidget(boxes_[i], row, 1);
    // The captions of boxes 7 to 12 do not name the settings those boxes
    // hold, so every row also shows the key it writes.
    auto* key = new QLabel(QString::fromStdString(form_.Key(i)), this);
    key->setEnabled(false);
    grid->addWidget(key, row, 3);
  }
  grid->addWidget(new QLabel(QString::fromLatin1(SetupForm::kIntervalUnit.data(),
                                                 static_cast<qsizetype>(
                                                     SetupForm::kIntervalUnit.size()))),
                  10, 2);
  grid->setColumnMinimumWidth(1, 260);
  // The port the daemon uses is the one in the file when the form opened.
  port_in_file_ = values[0];
}

SetupDialog::~SetupDialog() {
  Unload();
}

void SetupDialog::closeEvent(QCloseEvent* event) {
  Unload();
  QDialog::closeEvent(event);
}

void SetupDialog::done(int result) {
  Unload();
  QDialog::done(result);
}

void SetupDialog::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  try {
    SetupForm::Boxes values;
    for (size_t i = 0; i < SetupForm::kBoxes; ++i) {
      values[i] = boxes_[i]->text().toLatin1().toStdString();
    }
    form_.Unload(values, port_in_file_, [&](std::string_view key, std::string_view value) {
      ini_.SaveIniSetting(kSettingsSection, key, value, kMainIniFile);
    });
    const size_t before = log_text_.str().size();
    ini_.FlushIniCache();
    saved_ = log_text_.str().size() == before;
    if (!saved_) error_ = QString::fromLocal8Bit(log_text_.str().substr(before).c_str()).trimmed();
    daemon_told_ = reload_ && reload_();
  } catch (const std::exception& e) {
    error_ = QString::fromLocal8Bit(e.what());
  }
  if (!error_.isEmpty()) qWarning("UPB Setup: %s", qPrintable(error_));
}

}  // namespace corvane

