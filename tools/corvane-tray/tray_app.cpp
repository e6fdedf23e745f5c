#include "tray_app.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "tray_pictures.h"

namespace corvane {

TrayApp::TrayApp(Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      daemon_(options_.home, options_.daemon_program),
      menu_(std::make_unique<QMenu>()),
      echo_window_(std::make_unique<EchoWindowQt>()) {
  clock_.start();
  icon_model_.SetCallback(this);
  icon_model_.SetCaption(std::string(kTrayTip));
  blink_timer_.setSingleShot(true);
  blink_timer_.setTimerType(Qt::PreciseTimer);
  connect(&blink_timer_, &QTimer::timeout, this, [this] {
    const int64_t now = clock_.elapsed();
    ShowPicture(blinker_.OnTick(now));
    // A timer that fired a moment early waits for the rest; the icon must
    // not stay lit.
    if (auto due = blinker_.DueMs()) {
      blink_timer_.start(static_cast<int>(std::max<int64_t>(1, *due - now)));
    }
  });
  connect(&tray_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason r) { icon_model_.MouseMessage(MessageOf(r)); });
  connect(&daemon_, &DaemonControl::Up, this, &TrayApp::OnDaemonUp);
  connect(&daemon_, &DaemonControl::Gone, this, &TrayApp::OnDaemonGone);
  connect(&stream_, &EchoStream::Reset, echo_window_.get(), &EchoWindowQt::Reset);
  connect(&stream_, &EchoStream::Changed, this,
          [this](EchoWindow::Change change, const QString& text) {
            echo_window_->Apply(change, text);
            if (change != EchoWindow::Change::kStatus) OnTraffic();
          });
  tray_.setContextMenu(menu_.get());
}

TrayApp::~TrayApp() {
  tray_.hide();
}

int32_t TrayApp::MessageOf(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger: return kTrayLeftButtonUp;
    case QSystemTrayIcon::Context: return kTrayRightButtonUp;
    case QSystemTrayIcon::DoubleClick: return kTrayLeftDoubleClick;
    case QSystemTrayIcon::MiddleClick: return kTrayMiddleButtonUp;
    case QSystemTrayIcon::Unknown: break;
  }
  return kTrayMouseMove;
}

bool TrayApp::Start() {
  ShowPicture(TrayPicture::kNormal);
  BuildMenu();
  QString error;
  if (!daemon_.StartOrAttach(&error)) {
    Tell(error, true);
    OnDaemonGone();
  }
  return true;
}

void TrayApp::ShowPicture(std::optional<TrayPicture> picture) {
  if (!picture) return;
  const NotifyCall call = icon_model_.Update(true, *picture);
  if (call.op == NotifyOp::kAdd || call.op == NotifyOp::kModify) {
    tray_.setIcon(TrayPictureIcon(call.picture));
    tray_.setToolTip(QString::fromStdString(call.tip));
  }
  if (call.op == NotifyOp::kAdd) tray_.show();
}

void TrayApp::BuildMenu() {
  menu_->clear();
  for (const TrayMenuEntry& entry : TrayMenuEntries(daemon_.running())) {
    if (entry.caption == "-") {
      menu_->addSeparator();
      continue;
    }
    QAction* action = menu_->addAction(QString::fromLatin1(
        entry.caption.data(), static_cast<qsizetype>(entry.caption.size())));
    const TrayAction what = entry.action;
    connect(action, &QAction::triggered, this, [this, what] { Choose(what); });
  }
}

// The right button's menu is the context menu the desktop shows itself;
// the left button's is popped up here.
void TrayApp::TrayIconCallback(int32_t msg) {
  if (TrayOpensMenu(msg) && msg != kTrayRightButtonUp) menu_->popup(QCursor::pos());
}

void TrayApp::Choose(TrayAction action) {
  switch (action) {
    case TrayAction::kBrowser: return OpenPage("/status");
    case TrayAction::kGui: return OpenSetupForm();
    case TrayAction::kIoWindow: return OpenEchoWindow();
    case TrayAction::kHelp: return OpenPage("/help");
    case TrayAction::kExit: return Exit();
    case TrayAction::kStart: {
      QString error;
      if (!daemon_.StartOrAttach(&error)) Tell(error, true);
      return;
    }
    case TrayAction::kNone: return;
  }
}

void TrayApp::OnDaemonUp() {
  stream_.SetTarget(QString::fromStdString(TrayConnectHost(daemon_.http_address())),
                    daemon_.http_port(), [this] { return daemon_.EchoToken(); });
  ShowPicture(blinker_.OnDaemonBack());
  BuildMenu();
  echo_window_->SetLinkLost(false);
}

void TrayApp::OnDaemonGone() {
  stream_.SetTarget({}, 0);
  ShowPicture(blinker_.OnDaemonGone());
  BuildMenu();
  echo_window_->SetLinkLost(true);
  const QString text = QString("Corvane is not running for %1. Choose \"Start Corvane\" in the "
                               "menu to start it again.")
                           .arg(options_.home);
  qWarning("%s", qPrintable(text));
  if (QSystemTrayIcon::supportsMessages()) {
    tray_.showMessage(QString::fromLatin1(kTrayTip.data()), text, QSystemTrayIcon::Warning);
  }
}

void TrayApp::OnTraffic() {
  const int64_t now = clock_.elapsed();
  ShowPicture(blinker_.OnTraffic(now));
  if (auto due = blinker_.DueMs()) {
    blink_timer_.start(static_cast<int>(std::max<int64_t>(0, *due - now)));
  }
}

void TrayApp::OpenPage(const char* path) {
  if (!daemon_.running() || daemon_.http_port() <= 0) {
    return Tell("Corvane is not running; start it from the menu first.", true);
  }
  const QUrl url(QString::fromStdString(
      TrayPageAddress(daemon_.http_address(), daemon_.http_port(), path)));
  if (!QDesktopServices::openUrl(url)) Tell("Cannot open " + url.toString(), true);
}

void TrayApp::OpenSetupForm() {
  if (setup_) {
    setup_->raise();
    setup_->activateWindow();
    return;
  }
  setup_ = new SetupDialog(options_.home, [this] { return daemon_.Reload(); });
  setup_->setAttribute(Qt::WA_DeleteOnClose);
  connect(setup_, &QObject::destroyed, this, [] {});
  connect(setup_, &QDialog::finished, this, [this] {
    if (setup_ && !setup_->error().isEmpty()) Tell(setup_->error(), true);
  });
  setup_->show();
}

void TrayApp::OpenEchoWindow() {
  echo_window_->show();
  echo_window_->raise();
  echo_window_->activateWindow();
}

void TrayApp::Exit() {
  const NotifyCall call = icon_model_.Update(false);
  if (call.op == NotifyOp::kDelete) tray_.hide();
  if (setup_) setup_->close();
  echo_window_->hide();
  daemon_.StopIfStarted();
  QApplication::quit();
}

void TrayApp::Tell(const QString& text, bool error) {
  qWarning("%s", qPrintable(text));
  if (!options_.dialogs) return;
  if (error) {
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kTrayTip.data()), text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
  } else if (QSystemTrayIcon::supportsMessages()) {
    tray_.showMessage(QString::fromLatin1(kTrayTip.data()), text);
  }
}

}  // namespace corvane
