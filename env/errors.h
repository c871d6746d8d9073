#pragma once
// Failures of the system. Every message is Japanese (UTF-8) and names what
// failed (the operation, the file, the hole or the field) and why, so that the
// command that catches it can show it to the user as it stands.
#include <stdexcept>
#include <string>
#include <system_error>

namespace s2q {

// A message is always valid UTF-8: a byte of a name or text that is not (a
// file name in raw code page 932 bytes, say) is shown as "\xNN".
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message);
  explicit Error(const char* message) : Error(std::string(message)) {}
};

// The reason of a failed system call (an errno value) in Japanese, for the
// end of a message: "アクセスが拒否されました" and the like. Each platform
// adds its own codes (native_posix.cpp, native_windows.cpp).
std::string SystemErrorText(int err);
// The reason an std::error_code carries, whatever its category: on Windows
// the operating system's codes are worded by the system itself.
std::string ErrorCodeText(const std::error_code& ec);
// The reasons every platform shares; "" for any other code.
std::string ErrnoText(int err);

// A failure of the target database, with the reason the user must act on.
class DbError : public Error {
 public:
  enum class Kind {
    Other,        // any other engine failure
    NotADatabase, // the file is not a database this system can open
    NoTable,      // the database has no such table
    Locked,       // another program holds the database
    ReadOnly,     // the file or its folder cannot be written
    Rejected,     // a statement was refused (syntax, values, fields)
  };
  DbError(Kind kind, const std::string& message) : Error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

}  // namespace s2q
