#include "echo_window_qt.h"

#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>

namespace corvane {

EchoWindowQt::EchoWindowQt(QWidget* parent)
    : QWidget(parent),
      comm_data_(new QPlainTextEdit(this)),
      freeze_(new QCheckBox(QStringLiteral("Freeze"), this)),
      open_status_(new QLabel(this)) {
  setWindowTitle(QString::fromLatin1(kCaption));
  comm_data_->setObjectName(QStringLiteral("CommData"));
  comm_data_->setReadOnly(true);
  comm_data_->setLineWrapMode(QPlainTextEdit::NoWrap);
  comm_data_->setFont(QFont(QStringLiteral("Monospace")));
  freeze_->setObjectName(QStringLiteral("Freeze"));
  open_status_->setObjectName(QStringLiteral("aOpenStatus"));
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Data To / From External Interface and Error Reports")));
  top->addStretch();
  top->addWidget(freeze_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(open_status_);
  layout->addWidget(comm_data_, 1);
  resize(900, 480);
  connect(freeze_, &QCheckBox::toggled, this, [this] { Show(); });
}

void EchoWindowQt::Reset(const QString& text, const QString& status) {
  mirror_.Reset(text.toLatin1().toStdString(), status.toLatin1().toStdString());
  link_lost_ = false;
  Show();
}

void EchoWindowQt::Apply(EchoWindow::Change change, const QString& text) {
  mirror_.Apply(change, text.toLatin1().toStdString());
  if (change == EchoWindow::Change::kStatus) {
    open_status_->setText(QString::fromStdString(mirror_.status()));
  } else {
    Show();
  }
}

void EchoWindowQt::SetLinkLost(bool lost) {
  link_lost_ = lost;
  open_status_->setText(lost ? QStringLiteral("Corvane is not running")
                             : QString::fromLatin1(mirror_.status().c_str()));
}

void EchoWindowQt::Show() {
  if (!link_lost_) open_status_->setText(QString::fromLatin1(mirror_.status().c_str()));
  if (freeze_->isChecked()) return;
  QString text = QString::fromLatin1(mirror_.text().data(),
                                     static_cast<qsizetype>(mirror_.text().size()));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  comm_data_->setPlainText(text);
  comm_data_->verticalScrollBar()->setValue(comm_data_->verticalScrollBar()->maximum());
}

}  // namespace corvane
