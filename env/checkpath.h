#pragma once
#include <string>

namespace s2q {

class Platform;
class UserInterface;

// Decides whether a folder path typed or chosen by the user is usable and
// brings it into its normal form in place ("C:\folder\"). Makes the path's
// drive current once the drive letter has been checked. Shows the one message
// about a missing drive letter; every other rejection is silent.
bool CheckPath(std::string& path, Platform& platform, UserInterface& ui);

}  // namespace s2q
