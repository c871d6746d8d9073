// stolvik2quarnix: copies the title data of boring holes into the boring table
// of SR-DATA.MDB.
#include <QApplication>

#include "convert/appstate.h"
#include "mainwindow/form1.h"
#include "mainwindow/qtui.h"
#include "mainwindow/toolkit.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setFont(s2q::JapaneseFont());

  s2q::Platform platform(s2q::HostPlatformFacts());
  s2q::QtUi ui;
  s2q::AppState app(platform, ui);
  s2q::Form1 form(app);
  if (!form.Form_Load()) return EXIT_FAILURE;
  form.show();
  return application.exec();
}
