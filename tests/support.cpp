#include "tests/support.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include "env/codepage.h"
#include "env/errors.h"

namespace s2q::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = fs::temp_directory_path() / ("s2q-test-" + std::to_string(rd()));
    if (fs::create_directory(p)) {
      path_ = fs::canonical(p);
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::current_path(fs::temp_directory_path(), ec);
  fs::remove_all(path_, ec);
}

fs::path SharedPath(const std::string& rel) {
  const char* source = std::getenv("S2Q_SOURCE_DIR");
  if (!source || !*source) return {};
  return (fs::path(source) / ".." / "shared" / rel).lexically_normal();
}

bool RunsInCi() {
  const char* ci = std::getenv("CI");
  return ci && *ci;
}

PlatformFacts FactsOn(const fs::path& root, const std::string& letters,
                      const std::string& missingRoots) {
  PlatformFacts facts;
  for (char c : letters) {
    fs::path driveRoot = root / std::string(1, c);
    if (missingRoots.find(c) == std::string::npos) fs::create_directories(driveRoot);
    facts.drives[c] = driveRoot;
  }
  facts.systemFolder = root / "C" / "sys";
  facts.programFolder = root / "C" / "prog";
  fs::create_directories(facts.systemFolder);
  fs::create_directories(facts.programFolder);
  facts.startDrive = letters.empty() ? 0 : letters[0];
  return facts;
}

std::vector<std::string> BackupsIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("SR-DATA.") && name.ends_with(".MDB.bak")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  ADD_FAILURE() << "no Error raised";
  return {};
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

#ifdef _WIN32
OtherProcess::OtherProcess() {
  wchar_t self[32768];
  const DWORD n = GetModuleFileNameW(nullptr, self, 32768);
  if (n == 0 || n >= 32768) throw std::runtime_error("cannot find the test program");
  std::wstring command = L"\"" + std::wstring(self, n) + L"\" --gtest_list_tests";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
    throw std::runtime_error("cannot start a process: error " + std::to_string(GetLastError()));
  CloseHandle(pi.hThread);
  handle_ = pi.hProcess;
  id_ = pi.dwProcessId;
}

void OtherProcess::Kill() {
  if (!handle_) return;
  TerminateProcess(handle_, 9);
  WaitForSingleObject(handle_, INFINITE);
  CloseHandle(handle_);
  handle_ = nullptr;
}
#else
OtherProcess::OtherProcess() {
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("cannot start a process");
  if (child == 0) {
    for (;;) ::pause();
  }
  id_ = child;
}

void OtherProcess::Kill() {
  if (!id_) return;
  ::kill(static_cast<pid_t>(id_), SIGKILL);
  ::waitpid(static_cast<pid_t>(id_), nullptr, 0);
  id_ = 0;
}
#endif

OtherProcess::~OtherProcess() { Kill(); }

std::int64_t EndedProcessId() {
  OtherProcess ended;
  const std::int64_t id = ended.id();
  ended.Kill();
  return id;
}

void WriteCp932(const fs::path& path, const std::string& utf8) {
  WriteFile(path, EncodeCp932(utf8, path.string()));
}

}  // namespace s2q::test
