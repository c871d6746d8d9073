#pragma once
// The main window: the source and destination browsers, the hole list, the
// Execute and Exit buttons, the message line and the database menu.
#include <QMainWindow>
#include <QWidget>
#include <memory>

#include "convert/commands.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace s2q {

class DriveBox;
class FolderBox;
class Form2;
class ListBox;

// The background panel that holds every control of the main window. It
// reports the mouse moving over the panel itself, never over its controls.
class BackgroundPanel : public QWidget {
  Q_OBJECT
 public:
  explicit BackgroundPanel(QWidget* parent = nullptr);

 signals:
  void mouseMoved(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
};

class Form1 : public QMainWindow, private ExecuteView {
  Q_OBJECT
 public:
  explicit Form1(AppState& app);
  ~Form1() override;

  // Start-up. False when the program must end; the user has been told, and
  // the caller ends the program.
  bool Form_Load();

  void Command1_Click();  // 実  行
  void Command2_Click();  // 終  了
  void dbcreate_Click();  // ﾃﾞｰﾀﾍﾞｰｽ - 新規作成
  void Drive1_Change();
  void Dir1_Change();
  void Drive2_Change();
  void Dir2_Change();
  void Picture1_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, int x, int y);

  // The title selection dialog, once the database menu has opened it.
  Form2* dialog() const { return form2_.get(); }

  BackgroundPanel* Picture1;
  QGroupBox* Frame1;
  FolderBox* Dir1;
  DriveBox* Drive1;
  QLineEdit* Text1;
  QGroupBox* Frame3;
  QLabel* Label3;
  QLineEdit* Text2;
  QPushButton* Command2;
  QPushButton* Command1;
  QGroupBox* Frame2;
  ListBox* List1;
  DriveBox* Drive2;
  FolderBox* Dir2;
  QLabel* Label1;
  QLabel* Label2;
  QMenu* dbmenu;
  QAction* dbcreate;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // What the Execute command reads and shows.
  std::string DestText() override;
  std::string SourceText() override;
  const HoleList& Holes() override;
  void SetMessageLine(const std::string& text) override;
  void FocusAndSelectDest() override;
  void FocusAndSelectSource() override;
  void OpenDatabaseCreation() override;

  // Runs an event procedure for the window system: a failure is reported and
  // the program goes on.
  template <class Procedure>
  void Run(Procedure procedure);
  void CommandFailed(const std::string& what, const std::exception& e);

  AppState& app_;
  std::unique_ptr<Form2> form2_;
};

}  // namespace s2q
