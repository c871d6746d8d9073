// The main of every core test program. Under Wine it first leaves the marker
// that tools/wine-run looks for, which tells a test run (that may fail) from
// Wine failing to start the program at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

int main(int argc, char** argv) {
  if (const char* marker = std::getenv("S2Q_STARTED_MARKER"); marker && *marker) std::ofstream{marker};
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
