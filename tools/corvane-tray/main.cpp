// corvane-tray [--home DIR] [--daemon PROGRAM] [--no-dialogs]: the desktop
// front end for the Corvane daemon of one home folder.
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>

#include "tray_app.h"

namespace {

// The daemon next to this program, else the one on the PATH.
QString DefaultDaemon() {
  const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("corvane");
  if (QFileInfo(beside).isExecutable()) return beside;
  const QString found = QStandardPaths::findExecutable("corvane");
  return found.isEmpty() ? QStringLiteral("corvane") : found;
}

QString DefaultHome() {
  const QString env = qEnvironmentVariable("CORVANE_HOME");
  if (!env.isEmpty()) return env;
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
      .filePath("corvane");
}

// The home and its Config and Data folders must exist and take files.
QString CheckHome(const QString& home) {
  for (const char* sub : {"Config", "Data"}) {
    const QString dir = QDir(home).filePath(sub);
    if (!QDir().mkpath(dir)) return QString("cannot create %1").arg(dir);
  }
  const QString probe = QDir(home).filePath("Data/.corvane-tray-write-test");
  FILE* f = std::fopen(QFile::encodeName(probe).constData(), "w");
  if (!f) return QString("cannot write in %1").arg(QDir(home).filePath("Data"));
  std::fclose(f);
  std::remove(QFile::encodeName(probe).constData());
  if (::access(QFile::encodeName(home).constData(), W_OK) != 0) {
    return QString("cannot write in %1").arg(home);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("corvane-tray");
  QApplication::setQuitOnLastWindowClosed(false);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Notification icon, echo window and setup form for the Corvane daemon of one home folder.");
  parser.addHelpOption();
  QCommandLineOption home_opt("home", "The daemon's home folder (default: $CORVANE_HOME or "
                                      "~/.local/share/corvane).", "DIR");
  QCommandLineOption daemon_opt("daemon", "The corvane program to start.", "PROGRAM");
  QCommandLineOption quiet_opt("no-dialogs", "Report problems on stderr only.");
  parser.addOptions({home_opt, daemon_opt, quiet_opt});
  parser.process(app);

  corvane::TrayApp::Options options;
  options.home = QDir(parser.isSet(home_opt) ? parser.value(home_opt) : DefaultHome())
                     .absolutePath();
  options.daemon_program = parser.isSet(daemon_opt) ? parser.value(daemon_opt) : DefaultDaemon();
  options.dialogs = !parser.isSet(quiet_opt);

  const QString problem = CheckHome(options.home);
  if (!problem.isEmpty()) {
    const QString text =
        QString("Corvane cannot use the home folder %1: %2.").arg(options.home, problem);
    std::fprintf(stderr, "corvane-tray: %s\n", qPrintable(text));
    if (options.dialogs) QMessageBox::critical(nullptr, "Vaux Aris 700", text);
    return 1;
  }
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    std::fprintf(stderr, "corvane-tray: no notification area found; the icon may not show\n");
  }
  corvane::TrayApp tray(options);
  tray.Start();
  return app.exec();
}
