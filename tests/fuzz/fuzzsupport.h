#pragma once
// Shared pieces of the fuzz targets: a property check that aborts (so that
// libFuzzer and the corpus runner both report it), a scratch folder that lives
// as long as the process, a platform whose drives are folders inside it, and a
// user interface that counts its message boxes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "env/platform.h"
#include "env/ui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace s2q::fuzz {

// Aborts with the property and where it failed when `ok` is false.
void Require(bool ok, const char* property, const char* file, int line);
#define S2Q_REQUIRE(cond) ::s2q::fuzz::Require((cond), #cond, __FILE__, __LINE__)

// A folder made once per process under the temporary folder and removed at
// exit.
const std::filesystem::path& ScratchRoot();

// Facts of a platform on ScratchRoot(): drive C at root/C with the system
// folder C:\sys and the program folder C:\prog, drive D at root/D, and drive
// E whose root does not exist (not ready).
PlatformFacts ScratchFacts();

void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

// A user interface that shows nothing and counts the message boxes asked for.
class CountingUi : public UserInterface {
 public:
  void MsgBox(const std::string&, MsgIcon, const std::string&) override { ++boxes; }
  void SetHourglass(bool) override {}
  int boxes = 0;
};

}  // namespace s2q::fuzz
