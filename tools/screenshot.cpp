// screenshot EXAMPLE OUTPUT: draws the main window and the title selection
// dialog from the real widgets, off screen, into OUTPUT/form1.png and
// OUTPUT/form2.png. EXAMPLE is a folder laid out by make-example with the
// program's catalogue in EXAMPLE/bin; it becomes drive C, so the windows show
// short paths (C:\holes, C:\map). The dialog is drawn as the database menu
// opens it; the main window after the dialog has created the database and the
// first holes have been converted. The Windows build draws on Windows' own
// platform, as its window tests do (its off-screen one finds no fonts).
#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <filesystem>
#include <iostream>

#include "convert/appstate.h"
#include "mainwindow/folderbox.h"
#include "mainwindow/form1.h"
#include "mainwindow/listbox.h"
#include "mainwindow/toolkit.h"
#include "selectdialog/form2.h"

namespace fs = std::filesystem;

namespace {

// Message boxes would wait for a click; here they go to the terminal.
class TerminalUi : public s2q::UserInterface {
 public:
  void MsgBox(const std::string& text, s2q::MsgIcon, const std::string&) override {
    std::cerr << text << "\n";
    failed = true;
  }
  void SetHourglass(bool) override {}
  bool failed = false;
};

bool Save(QWidget* widget, const fs::path& file) {
  QApplication::processEvents();
  if (widget->grab().save(QString::fromStdString(file.string()))) return true;
  std::cerr << "screenshot: cannot write " << file << "\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: screenshot EXAMPLE OUTPUT\n";
    return 1;
  }
#ifndef Q_OS_WIN
  qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QApplication application(argc, argv);
  application.setFont(s2q::JapaneseFont());
  const fs::path example = fs::absolute(argv[1]);
  const fs::path output = fs::absolute(argv[2]);

  s2q::PlatformFacts facts;
  facts.drives['C'] = example;
  facts.labels['C'] = "/";  // as on a real machine, whatever folder holds the example
  facts.systemFolder = example / "config";
  facts.programFolder = example / "bin";
  facts.startDrive = 'C';
  fs::current_path(example / "holes");
  s2q::Platform platform(facts);
  TerminalUi ui;
  s2q::AppState app(platform, ui);
  s2q::Form1 form(app);
  if (!form.Form_Load()) return 1;
  form.Dir2->setPath("C:\\holes");
  form.Text1->setText("C:\\map");
  form.show();

  form.dbcreate_Click();
  s2q::Form2* dialog = form.dialog();
  if (!dialog || !Save(dialog, output / "form2.png")) return 1;
  dialog->Command5_Click();

  for (int row = 0; row < 4 && row < form.List1->count(); ++row) form.List1->item(row)->setSelected(true);
  form.Command1_Click();
  if (ui.failed || !Save(&form, output / "form1.png")) return 1;
  std::cout << "wrote " << (output / "form1.png").string() << " and " << (output / "form2.png").string() << "\n";
  return 0;
}
