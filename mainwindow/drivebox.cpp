#include "mainwindow/drivebox.h"

#include <cctype>

#include "env/errors.h"
#include "env/platform.h"

namespace s2q {

DriveBox::DriveBox(Platform& platform, QWidget* parent) : QComboBox(parent), platform_(platform) {
  for (char letter : platform_.DriveLetters()) {
    std::string value = std::string(1, char(std::tolower(static_cast<unsigned char>(letter)))) +
                        ": [" + platform_.DriveLabel(letter) + "]";
    addItem(QString::fromStdString(value), QChar(letter));
  }
  setCurrentIndex(findData(QChar(platform_.CurrentDrive())));
  connect(this, &QComboBox::currentIndexChanged, this, &DriveBox::changed);
}

std::string DriveBox::drive() const {
  return currentText().left(2).toStdString();
}

void DriveBox::setDrive(const std::string& drive) {
  char letter = drive.empty() ? '\0' : char(std::toupper(static_cast<unsigned char>(drive[0])));
  int index = findData(QChar(letter));
  if (index < 0) throw Error("ドライブ " + drive.substr(0, 2) + " はありません。");
  if (!platform_.IsDriveReady(letter)) {
    throw Error("ドライブ " + drive.substr(0, 2) + " の準備ができていません。");
  }
  setCurrentIndex(index);
}

}  // namespace s2q
