#pragma once
// The title selection dialog: the catalogue's title items on the left, the
// fields the boring table is to get on the right, and the create command.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

class QGroupBox;
class QPushButton;

namespace s2q {

struct AppState;
class ListBox;

class Form2 : public QWidget {
  Q_OBJECT
 public:
  // `mainWindow` is disabled while the dialog is open and placed under it;
  // `messageLine` writes the main window's message line: what the create
  // command did, or the empty text after a failure.
  Form2(AppState& app, QWidget* mainWindow, std::function<void(const std::string&)> messageLine);

  // Loads the dialog afresh from the selection flags and shows it without
  // waiting.
  void Show();

  void TitlesSet();
  void ClearSelectTitles();
  int16_t SelectTitles();
  void SelectFlg_Set(int point, int16_t flg);
  void SelectFlg_Sets(int16_t mode, ListBox& lst, int16_t flg);

  void Form_Load();
  void Form_QueryUnload(int16_t& Cancel, int16_t UnloadMode);
  void Command1_Click();  // 選択
  void Command2_Click();  // 全て選択
  void Command3_Click();  // 選択解除
  void Command4_Click();  // 全て選択解除
  void Command5_Click();  // 作成
  void Command6_Click();  // キャンセル
  void List1_DblClick();
  void List2_DblClick();

  // Rows of List2 after the last rebuild.
  int16_t SelectCount = 0;
  // Top row of List2 remembered before rows were removed; kept across showings.
  int16_t ListTop = 0;

  QGroupBox* Frame1;
  ListBox* List1;
  QPushButton* Command1;
  QPushButton* Command2;
  QPushButton* Command3;
  QPushButton* Command4;
  QGroupBox* Frame2;
  ListBox* List2;
  QPushButton* Command5;
  QPushButton* Command6;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Rebuild();  // List2 from the flags
  // Top row of List2 after removals: the remembered one, or the last row when
  // fewer rows remain.
  void RestoreTop();
  template <class Procedure>
  void Run(Procedure procedure);

  AppState& app_;
  QWidget* mainWindow_;
  std::function<void(const std::string&)> messageLine_;
};

}  // namespace s2q
