#pragma once
// The drive browser: one row per drive of the platform, shown as the letter,
// the colon and the drive's native root ("c: [/]").
#include <QComboBox>
#include <string>

namespace s2q {

class Platform;

class DriveBox : public QComboBox {
  Q_OBJECT
 public:
  explicit DriveBox(Platform& platform, QWidget* parent = nullptr);

  // The drive shown: its letter and the colon ("c:").
  std::string drive() const;
  // Shows another drive and raises changed() at once. Throws Error for a drive
  // that is not present or not ready; the box then keeps its drive.
  void setDrive(const std::string& drive);

 signals:
  // The drive shown changed, by the user or by setDrive().
  void changed();

 private:
  Platform& platform_;
};

}  // namespace s2q
