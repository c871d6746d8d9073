// The platform facts of Windows, as the system reports them.
#include <vector>

#include "env/errors.h"
#include "env/platform.h"
#include "env/winapi.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

// A folder the system names through a buffer-filling call.
std::wstring Folder(UINT (*call)(LPWSTR, UINT)) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const UINT n = call(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

}  // namespace

PlatformFacts HostPlatformFacts() {
  // A drive without a medium is "not ready", not a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  PlatformFacts facts;
  std::vector<wchar_t> roots(4 * 26 + 2);
  const DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(roots.size()), roots.data());
  if (length == 0 || length > roots.size()) {
    throw Error("ドライブの一覧を取得できません: " + win::ErrorText(GetLastError()));
  }
  for (const wchar_t* root = roots.data(); *root; root += wcslen(root) + 1) {
    const wchar_t letter = root[0] >= L'a' && root[0] <= L'z' ? root[0] - L'a' + L'A' : root[0];
    if (letter < L'A' || letter > L'Z') continue;
    const char c = static_cast<char>(letter);
    facts.drives[c] = fs::path(std::wstring(1, letter) + L":\\");
    wchar_t label[MAX_PATH + 1] = {};
    if (GetVolumeInformationW(root, label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0) && label[0]) {
      facts.labels[c] = win::Utf8(label);
    }
    // Windows keeps each drive's current folder; "X:" alone resolves to it.
    const wchar_t drive[] = {letter, L':', 0};
    wchar_t full[32768];
    const DWORD n = GetFullPathNameW(drive, 32768, full, nullptr);
    if (n > 0 && n < 32768) facts.currentFolders[c] = fs::path(std::wstring(full, n));
  }
  // The boring-log product is a 32-bit program: on 64-bit Windows its system
  // folder is SysWOW64; 32-bit Windows has none and the system folder is its own.
  std::wstring system = Folder(GetSystemWow64DirectoryW);
  if (system.empty()) system = Folder(GetSystemDirectoryW);
  if (system.empty()) throw Error("システムフォルダが決まりません: " + win::ErrorText(GetLastError()));
  facts.systemFolder = fs::path(system);

  std::vector<wchar_t> module(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    if (n == 0) throw Error("実行ファイルの場所を取得できません: " + win::ErrorText(GetLastError()));
    if (n < module.size()) {
      facts.programFolder = fs::path(std::wstring(module.data(), n)).parent_path();
      break;
    }
    module.resize(module.size() * 2);
  }
  return facts;
}

}  // namespace s2q
