#include "mainwindow/toolkit.h"

#include <QAbstractScrollArea>
#include <QStringList>
#include <cmath>

#include "convert/appstate.h"
#include "env/errors.h"

namespace s2q {

namespace {
int Px(int twips) { return static_cast<int>(std::lround(twips / double(kTwipsPerPixel))); }
}  // namespace

QRect Twips(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

QFont JapaneseFont() {
  QFont font;
  // Named, not taken from the system: the windows show Japanese also where
  // the system's own UI font has no kana and kanji (a Windows whose display
  // language is not Japanese still has these fonts).
#ifdef Q_OS_WIN
  font.setFamilies(QStringList{"Yu Gothic UI", "Meiryo UI", "MS UI Gothic", "MS PGothic"});
#else
  font.setFamilies(QStringList{"Noto Sans CJK JP", "IPAGothic", "IPAexGothic", "VL Gothic",
                                "Noto Sans JP"});
#endif
  font.setPixelSize(12);
  return font;
}

void ShowFocusFrame(QAbstractScrollArea* view) {
  // As wide as the style's own frame, so that the rows do not move when the
  // focus comes and goes.
  const int width = view->frameWidth() > 0 ? view->frameWidth() : 1;
  view->setStyleSheet(
      QString("QAbstractScrollArea:focus { border: %1px solid palette(highlight); }").arg(width));
}

void ReportFailure(AppState& app, const std::string& what, const std::exception& e) {
  { SlotCloser closer(app.db); }
  app.ui.SetHourglass(false);
  std::string why = e.what();
  // Failures of the system carry a Japanese message; anything else comes from
  // the runtime and is marked as such.
  if (!dynamic_cast<const Error*>(&e)) why = "内部エラー: " + why;
  app.ui.MsgBox(what + why, MsgIcon::Exclamation);
}

}  // namespace s2q
