// The desktop setup form ("UPB Setup"): 13 boxes bound to the first 13
// settings of section Vaux in Config/Corvane.ini. Opening fills them;
// closing (there is no cancel) saves every box, writes the file and asks
// the running daemon to read its settings again, which reopens the
// controller port only when box 0 changed.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <array>
#include <functional>
#include <memory>
#include <sstream>

#include "config/ini_cache.h"
#include "core/event_log.h"
#include "platform/clock.h"
#include "ui/setup_form.h"

namespace corvane {

class SetupDialog : public QDialog {
  Q_OBJECT

 public:
  // `reload` asks the daemon to read the settings again; false when no
  // daemon runs (the values then apply at its next start).
  SetupDialog(QString home, std::function<bool()> reload, QWidget* parent = nullptr);
  ~SetupDialog() override;

  QLineEdit* Box(size_t i) { return boxes_.at(i); }
  // What the last close did: the file written, the daemon told.
  bool saved() const { return saved_; }
  bool daemon_told() const { return daemon_told_; }
  const QString& error() const { return error_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void done(int result) override;

 private:
  void Unload();

  SystemWallClock wall_;
  std::ostringstream log_text_;
  EventLog log_;
  IniCache ini_;
  SetupForm form_;
  std::function<bool()> reload_;
  std::array<QLineEdit*, SetupForm::kBoxes> boxes_{};
  std::string port_in_file_;
  bool unloaded_ = false;
  bool saved_ = false;
  bool daemon_told_ = false;
  QString error_;
};

}  // namespace corvane
