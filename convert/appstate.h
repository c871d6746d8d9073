#pragma once
// Program-wide state, built once at start-up and passed by reference.
#include <cstdint>
#include <string>
#include <vector>

#include "convert/titletable.h"
#include "env/platform.h"
#include "env/ui.h"
#include "targetdb/dbstate.h"
#include "targetdb/titledb.h"

namespace s2q {

struct AppState {
  AppState(Platform& p, UserInterface& u) : platform(p), ui(u), db(p) {}

  Platform& platform;
  UserInterface& ui;

  std::string DestFolder;
  std::string PatdatFolder;
  int16_t MessageShown = 0;
  TitleSelection titles;
  TitleTable titleTable;
  std::vector<std::string> TitleFileNames;
  std::vector<std::string> CodeListFiles;
  DbState db;  // the engine and the boring database slot
};

}  // namespace s2q
