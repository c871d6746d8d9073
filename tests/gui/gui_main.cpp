// Test main of the window tests. On Linux the windows are drawn off screen,
// so the tests run without a display. On Windows they use Windows' own
// platform (its off-screen one finds no fonts there), so under Wine they run
// on a display, Xvfb in the tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <fstream>

int main(int argc, char** argv) {
  if (const char* marker = std::getenv("S2Q_STARTED_MARKER"); marker && *marker) std::ofstream{marker};
#ifndef Q_OS_WIN
  qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
