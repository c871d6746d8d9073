// stolvik2quarnix: copies the title data of boring holes into the boring table
// of SR-DATA.MDB.
#include <QApplication>
#include <exception>
#include <memory>

#include "convert/appstate.h"
#include "mainwindow/form1.h"
#include "mainwindow/qtui.h"
#include "mainwindow/toolkit.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setFont(s2q::JapaneseFont());
  s2q::QtUi ui;

  std::unique_ptr<s2q::Platform> platform;
  try {
    platform = std::make_unique<s2q::Platform>(s2q::HostPlatformFacts());
  } catch (const std::exception& e) {
    ui.MsgBox(std::string("起動に失敗しました。") + e.what(), s2q::MsgIcon::Exclamation);
    return EXIT_FAILURE;
  }
  s2q::AppState app(*platform, ui);
  s2q::Form1 form(app);
  if (!form.Form_Load()) return EXIT_FAILURE;
  form.show();
  return application.exec();
}
