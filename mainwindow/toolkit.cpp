#include "mainwindow/toolkit.h"

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
  font.setFamilies(QStringList{"Noto Sans CJK JP", "IPAGothic", "IPAexGothic", "VL Gothic",
                                "Noto Sans JP"});
  font.setPixelSize(12);
  return font;
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
