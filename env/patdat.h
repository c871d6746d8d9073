#pragma once
#include <string>

namespace s2q {

class Platform;

// The PATDAT setting of PatdatV5.ini in the system folder: the first item
// after line 1, trimmed. The empty text when there is no setting (the file is
// absent, empty, or ends before the item); an empty file is deleted.
std::string ReadPatdatSetting(const Platform& platform);

// Whether the PATDAT setting names an existing folder: the setting less its
// last character (its closing separator) must be a folder.
bool PatdatFolderExists(const Platform& platform, const std::string& setting);

}  // namespace s2q
