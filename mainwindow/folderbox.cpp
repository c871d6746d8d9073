#include "mainwindow/folderbox.h"

#include <QApplication>
#include <QStyle>
#include <cctype>
#include <vector>

#include "env/errors.h"
#include "env/platform.h"
#include "mainwindow/toolkit.h"

namespace s2q {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kIndentPerLevel = 2;  // blanks

// The folder and its ancestors, root first: "C:\a\b" gives "C:\", "C:\a", "C:\a\b".
std::vector<std::string> Ancestors(const std::string& folder) {
  std::vector<std::string> chain;
  std::string root = folder.substr(0, 3);
  chain.push_back(root);
  size_t pos = 3;
  while (pos < folder.size()) {
    size_t next = folder.find('\\', pos);
    if (next == std::string::npos) next = folder.size();
    chain.push_back(folder.substr(0, next));
    pos = next + 1;
  }
  return chain;
}

std::string LastName(const std::string& folder) {
  if (folder.size() <= 3) return folder;
  return folder.substr(folder.rfind('\\') + 1);
}

}  // namespace

FolderBox::FolderBox(Platform& platform, QWidget* parent) : QListWidget(parent), platform_(platform) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemActivated, this, &FolderBox::Open);
  ShowFocusFrame(this);
}

void FolderBox::setPath(const std::string& path) {
  std::string folder = platform_.AbsoluteFolder(path);
  char letter = char(std::toupper(static_cast<unsigned char>(folder[0])));
  if (!platform_.IsDriveReady(letter)) {
    throw Error("ドライブ " + folder.substr(0, 2) + " の準備ができていません。");
  }
  if (!platform_.FolderExists(folder)) throw Error("フォルダ " + folder + " がありません。");
  // A sub-folder whose name is no text cannot be named, so it is not shown;
  // the hole list tells of it.
  std::vector<std::string> unnamed;
  std::vector<std::string> subfolders = platform_.ListSubfolders(folder, &unnamed);

  clear();
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  std::vector<std::string> chain = Ancestors(folder);
  for (size_t level = 0; level < chain.size(); ++level) {
    auto* row = new QListWidgetItem(
        open, QString(int(level) * kIndentPerLevel, ' ') + QString::fromStdString(LastName(chain[level])));
    row->setData(kPathRole, QString::fromStdString(chain[level]));
    row->setData(kNameRole, QString::fromStdString(LastName(chain[level])));
    addItem(row);
  }
  const std::string prefix = folder.back() == '\\' ? folder : folder + "\\";
  const QString indent(int(chain.size()) * kIndentPerLevel, ' ');
  for (const std::string& name : subfolders) {
    auto* row = new QListWidgetItem(closed, indent + QString::fromStdString(name));
    row->setData(kPathRole, QString::fromStdString(prefix + name));
    row->setData(kNameRole, QString::fromStdString(name));
    addItem(row);
  }
  setCurrentRow(int(chain.size()) - 1);

  bool differs = folder != path_;
  path_ = folder;
  if (differs) emit changed();
}

void FolderBox::Open(QListWidgetItem* item) {
  const std::string before = path_;
  try {
    setPath(item->data(kPathRole).toString().toStdString());
  } catch (const Error& e) {
    emit openFailed(QString::fromUtf8(e.what()));
    return;
  }
  if (path_ == before) emit reopened();
}

void FolderBox::keyboardSearch(const QString& search) {
  if (search.isEmpty() || count() == 0) return;
  // Letters typed in quick succession make one name; after a pause the
  // search starts again.
  const bool goingOn = typing_.isValid() && typing_.elapsed() < QApplication::keyboardInputInterval();
  typing_.start();
  typed_ = goingOn ? typed_ + search : search;
  // A growing name may still match the current row; a new one looks from the
  // next row on, so that the same letter again goes to the next folder.
  const int first = currentRow() < 0 ? 0 : (goingOn ? currentRow() : currentRow() + 1);
  for (int step = 0; step < count(); ++step) {
    QListWidgetItem* row = item((first + step) % count());
    if (row->data(kNameRole).toString().startsWith(typed_, Qt::CaseInsensitive)) {
      setCurrentItem(row);
      scrollToItem(row);
      return;
    }
  }
}

}  // namespace s2q
