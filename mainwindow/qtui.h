#pragma once
// The user interface of the windows: message boxes, the hourglass pointer and
// ending the program.
#include "env/ui.h"

namespace s2q {

class QtUi : public UserInterface {
 public:
  // A box with one OK button over the active window; the program's title is
  // the caption when none is given.
  void MsgBox(const std::string& text, MsgIcon icon = MsgIcon::None,
              const std::string& caption = {}) override;
  // The hourglass stays until it is switched off; switching it on or off twice
  // in a row changes nothing.
  void SetHourglass(bool on) override;
  // Ends the process at once with a failure status; used before any window is
  // shown.

 private:
  bool hourglass_ = false;
};

}  // namespace s2q
