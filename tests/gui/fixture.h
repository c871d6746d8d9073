#pragma once
// The main window on a temporary platform: drive C holds the PATDAT folder,
// the source holes under C:\src and the program folder with TitleDb.TXT;
// further drives come from the letters given. Message boxes are recorded.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>

#include "convert/appstate.h"
#include "env/errors.h"
#include "mainwindow/drivebox.h"
#include "mainwindow/folderbox.h"
#include "mainwindow/form1.h"
#include "mainwindow/listbox.h"
#include "selectdialog/form2.h"
#include "tests/support.h"

namespace s2q::test {

inline constexpr int kCatalogueEntries = 50;

class Workbench {
 public:
  explicit Workbench(const std::string& letters = "C", const std::string& missing = "")
      : platform(FactsOn(dir.path(), letters, missing)), app(platform, ui) {
    std::filesystem::create_directories(dir / "C/PATDAT");
    std::filesystem::create_directories(dir / "C/src");
    WriteCp932(dir / "C/sys/PatdatV5.ini", "[PATDAT]\r\n\"C:\\PATDAT\\\"\r\n");
  }

  // A catalogue of text fields F00, F01, ... fed by items 1, 2, ... of TITL01.TXT.
  void WriteCatalogue(const std::string& destFolder, int entries = kCatalogueEntries) {
    std::string text = "\"" + destFolder + "\"\r\n";
    for (int i = 0; i < entries; ++i) {
      text += "1," + std::to_string(i % 42 + 1) + ",\"" + FieldName(i) + "\",20,0\r\n";
    }
    WriteCp932(dir / "C/prog/TitleDb.TXT", text);
  }
  static std::string FieldName(int i) { return (i < 10 ? "F0" : "F") + std::to_string(i); }

  // A hole folder under C:\src whose TITL01.TXT items are "<name>-1", "<name>-2", ...
  void MakeHole(const std::string& name) {
    std::string items;
    for (int i = 1; i <= 42; ++i) items += (i > 1 ? ",\"" : "\"") + name + "-" + std::to_string(i) + "\"";
    WriteCp932(dir / ("C/src/" + name + "/TITL01.TXT"), items + "\r\n");
  }

  // Creates and loads the main window; shows it when the start-up went through.
  bool Start() {
    form = std::make_unique<Form1>(app);
    bool loaded = form->Form_Load();
    if (!loaded) return false;
    form->show();
    return QTest::qWaitForWindowExposed(form.get());
  }

  std::string Text(QLineEdit* box) const { return box->text().toStdString(); }
  std::string MessageLine() const { return form->Label3->text().toStdString(); }

  TempDir dir;
  Platform platform;
  RecordingUi ui;
  AppState app;
  std::unique_ptr<Form1> form;
};

inline std::string FullTitle() { return std::string(kProgramTitle); }

// Moves the mouse over `widget`. Off screen the move arrives at once. On a
// real window system (Windows) the pointer moves and its events come back
// from the system at some later time, so the move is also handed to the
// widget as the application would hand it on.
inline void MoveMouse(QWidget* widget, QPoint at) {
  QTest::mouseMove(widget, at);
#ifdef Q_OS_WIN
  QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(widget->mapToGlobal(at)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &move);
#endif
}

}  // namespace s2q::test
