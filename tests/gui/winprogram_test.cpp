// The Windows program itself, as a user starts it: with the example's
// PatdatV5.ini in the system folder, its main window must open with its
// caption and close again on request. Runs only in the Windows build, on a
// display (under Wine, in Xvfb). The program is the one built beside the
// test, or the one S2Q_PROGRAM names (an unpacked zip's).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "env/native.h"
#include "env/platform.h"
#include "tools/exampledata/exampledata.h"

namespace s2q::test {
namespace {

namespace fs = std::filesystem;

struct Found {
  DWORD process;
  std::wstring caption;
  HWND window = nullptr;
};

BOOL CALLBACK Look(HWND window, LPARAM param) {
  auto& found = *reinterpret_cast<Found*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != found.process || !IsWindowVisible(window)) return TRUE;
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  if (found.caption == text) {
    found.window = window;
    return FALSE;
  }
  return TRUE;
}

TEST(WindowsProgram, StartsWithItsCaptionAndCloses) {
  const char* program = std::getenv("S2Q_PROGRAM");
  if (!program || !*program) program = S2Q_PROGRAM_EXE;

  // The example, with the PATDAT setting where the boring-log product keeps it.
  const PlatformFacts facts = HostPlatformFacts();
  Platform platform(facts);
  const fs::path root = fs::temp_directory_path() / L"s2q-winprogram";
  fs::remove_all(root);
  WriteExampleHoles(root / "holes", 3);
  WriteExampleCodeLists(root / "PATDAT");
  WritePatdatIni(facts.systemFolder, *platform.ToDriveForm(root / "PATDAT"));

  std::wstring command = L"\"" + NativePath(program).wstring() + L"\"";
  STARTUPINFOW start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &start, &process))
      << GetLastError();
  Found found{process.dwProcessId, L"Stolvik -> Ｑｕａｒｎｉｘ変換プログラム"};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!found.window && std::chrono::steady_clock::now() < deadline &&
         WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EnumWindows(Look, reinterpret_cast<LPARAM>(&found));
  }
  EXPECT_NE(found.window, nullptr) << "no visible window with the caption";

  if (found.window) PostMessageW(found.window, WM_CLOSE, 0, 0);
  DWORD status = 259;
  if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &status);
  } else {
    TerminateProcess(process.hProcess, 99);
    ADD_FAILURE() << "the program did not end after its window was closed";
  }
  EXPECT_EQ(status, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  fs::remove_all(root);
}

}  // namespace
}  // namespace s2q::test
