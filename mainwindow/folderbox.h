#pragma once
// The folder browser: the current folder with its ancestors shown open, one
// level deeper each, then its sub-folders. Opening a row (double-click or
// Enter) makes it the current folder of the box; typing the first letters of
// a name moves to its row.
#include <QElapsedTimer>
#include <QListWidget>
#include <string>

namespace s2q {

class Platform;

class FolderBox : public QListWidget {
  Q_OBJECT
 public:
  explicit FolderBox(Platform& platform, QWidget* parent = nullptr);

  // The folder shown, in drive form, without a closing "\" except at a root
  // ("C:\work", "C:\"); empty before the first setPath().
  const std::string& path() const { return path_; }
  // Shows a folder; a bare drive ("D:") stands for that drive's current
  // folder. Raises changed() at once when the folder differs from the one
  // shown. Throws Error when the drive is not ready or the folder cannot be
  // listed; the box then stays as it was.
  void setPath(const std::string& path);

 signals:
  void changed();
  // The row of the folder shown was opened again: the box has been listed
  // afresh, and what follows the folder may want to be too.
  void reopened();
  // Opening a row failed (the folder has gone, for instance).
  void openFailed(const QString& message);

 protected:
  // Matches the folder names, not the indented texts of the rows.
  void keyboardSearch(const QString& search) override;

 private:
  void Open(QListWidgetItem* item);

  Platform& platform_;
  std::string path_;
  QString typed_;        // the letters typed so far
  QElapsedTimer typing_;  // since the last letter
};

}  // namespace s2q
