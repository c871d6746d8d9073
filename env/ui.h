#pragma once
// What the core asks of the user interface: message boxes with one OK button
// and the hourglass pointer. The windows implement it with real widgets, the
// batch command on the terminal, tests by recording. Ending the program is
// each front end's own: start-up steps return whether the program goes on.
#include <string>
#include <string_view>

namespace s2q {

inline constexpr std::string_view kProgramTitle = "Stolvik -> Ｑｕａｒｎｉｘ変換プログラム";

enum class MsgIcon { None, Exclamation, Information };

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // One OK button. An empty caption stands for the program's title.
  virtual void MsgBox(const std::string& text, MsgIcon icon = MsgIcon::None,
                      const std::string& caption = {}) = 0;
  virtual void SetHourglass(bool on) = 0;
};

}  // namespace s2q
