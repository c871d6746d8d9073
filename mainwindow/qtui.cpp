#include "mainwindow/qtui.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdlib>

namespace s2q {

void QtUi::MsgBox(const std::string& text, MsgIcon icon, const std::string& caption) {
  QMessageBox::Icon qicon = QMessageBox::NoIcon;
  if (icon == MsgIcon::Exclamation) qicon = QMessageBox::Warning;
  if (icon == MsgIcon::Information) qicon = QMessageBox::Information;
  const std::string title = caption.empty() ? std::string(kProgramTitle) : caption;
  QMessageBox box(qicon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);  // a folder name such as "<b>" is shown as it is
  // The box shows the ordinary arrow even while the hourglass is on.
  if (hourglass_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  if (hourglass_) QApplication::restoreOverrideCursor();
}

void QtUi::SetHourglass(bool on) {
  if (on == hourglass_) return;
  hourglass_ = on;
  if (on) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace s2q
