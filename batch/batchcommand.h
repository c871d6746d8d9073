#pragma once
// The batch command stolvik2quarnix-batch: the Execute command and the
// database creation of the windows, driven from the command line.
#include <iosfwd>
#include <string>
#include <vector>

#include "env/platform.h"

namespace s2q {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // a check refused; nothing was changed by the command
inline constexpr int kExitFailed = 2;   // the work failed part way

// Runs the command given by `args` (without the program name) on a platform
// with `facts`. Results go to `out`, every message to `err`. Returns the exit
// status.
int RunBatch(const std::vector<std::string>& args, const PlatformFacts& facts,
             std::ostream& out, std::ostream& err);

// The text of --help, with the parts that differ between platforms
// (hosthelp_posix.cpp, hosthelp_windows.cpp): how folders are named and
// where the settings are, and the examples.
std::string BatchHelpText();
std::string HostPathHelp();
std::string HostExampleHelp();
// What the host's build cannot make with --format; "" when it makes both.
std::string HostFormatHelp();
// A folder as this platform's command line reads it back.
std::string HostQuoted(const std::string& text);

}  // namespace s2q
