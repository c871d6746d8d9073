#pragma once
// Small pieces the windows share: placement in twips, the Japanese font, the
// focus frame of the lists and the report of a failed command.
#include <QFont>
#include <QRect>
#include <exception>
#include <string>

class QAbstractScrollArea;

namespace s2q {

struct AppState;

// The windows are laid out in twips; one logical pixel is 15 twips.
inline constexpr int kTwipsPerPixel = 15;
QRect Twips(int left, int top, int width, int height);

// A font that holds the Japanese characters of the captions.
QFont JapaneseFont();

// Draws the frame of a list or browser in the highlight colour while it has
// the keyboard focus, so that the focused one can be told from the others.
void ShowFocusFrame(QAbstractScrollArea* view);

// Tells the user that a command failed (what, then why), restores the pointer
// and closes a database the failure left open. The program goes on.
void ReportFailure(AppState& app, const std::string& what, const std::exception& e);

}  // namespace s2q
