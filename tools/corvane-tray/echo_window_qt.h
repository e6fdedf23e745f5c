// The desktop echo window ("Vaux Data Monitor Window"): the controller
// traffic and error reports as the daemon's echo stream delivers them, the
// link state label and the Freeze box. While Freeze is ticked the text goes
// on arriving but the view neither changes nor scrolls.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>

#include "ui/echo_window.h"

namespace corvane {

class EchoWindowQt : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = "Vaux Data Monitor Window";

  explicit EchoWindowQt(QWidget* parent = nullptr);

  void Reset(const QString& text, const QString& status);
  void Apply(EchoWindow::Change change, const QString& text);
  // The daemon's stream is gone (or back).
  void SetLinkLost(bool lost);

  const EchoMirror& mirror() const { return mirror_; }
  QPlainTextEdit* CommData() { return comm_data_; }
  QCheckBox* Freeze() { return freeze_; }
  QLabel* aOpenStatus() { return open_status_; }

 private:
  void Show();

  EchoMirror mirror_;
  QPlainTextEdit* comm_data_;
  QCheckBox* freeze_;
  QLabel* open_status_;
  bool link_lost_ = false;
};

}  // namespace corvane
