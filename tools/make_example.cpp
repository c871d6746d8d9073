// make-example FOLDER [HOLES]: lays out the README's example in FOLDER:
//   FOLDER/holes/BH-0001 ...   hole folders with TITL01.TXT and TITL02.TXT
//   FOLDER/PATDAT/             the code lists L1.TXT, L2.TXT, L3.TXT
//   FOLDER/config/PatdatV5.ini the PATDAT setting, for XDG_CONFIG_HOME
//   FOLDER/map/                an empty destination folder
// The user's own configuration is never touched.
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "tools/exampledata/exampledata.h"
#include "env/errors.h"
#include "env/platform.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
    std::cerr << "使い方: make-example フォルダ [ボーリング孔の数 (既定 12)]\n";
    return 1;
  }
  int holes = 12;
  if (argc == 3) {
    char* end = nullptr;
    long n = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || n < 1 || n > 100000) {
      std::cerr << "make-example: ボーリング孔の数 " << argv[2] << " は 1 から 100000 の整数ではありません。\n";
      return 1;
    }
    holes = static_cast<int>(n);
  }
  try {
    const fs::path root = fs::absolute(argv[1]).lexically_normal();
    s2q::Platform platform(s2q::HostPlatformFacts());
    const auto patdat = platform.ToDriveForm(root / "PATDAT");
    if (!patdat) throw s2q::Error("フォルダ " + root.string() + " はどのドライブにも含まれていません。");

    s2q::WriteExampleHoles(root / "holes", holes);
    s2q::WriteExampleCodeLists(root / "PATDAT");
    s2q::WritePatdatIni(root / "config", *patdat);
    fs::create_directories(root / "map");

    std::cout << "例題データを " << root.string() << " に作成しました (ボーリング孔 " << holes
              << " 孔)。\n"
              << "  変換元フォルダ: " << *platform.ToDriveForm(root / "holes") << '\n'
              << "  変換先フォルダ: " << *platform.ToDriveForm(root / "map") << '\n'
              << "  PatdatV5.ini:   " << (root / "config").string()
              << " (XDG_CONFIG_HOME に指定して起動します)\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "make-example: " << e.what() << '\n';
    return 2;
  }
}
