#pragma once
// Names of the boring database that more than one part of the layer knows.
namespace s2q {

inline constexpr const char* kDatabaseFileName = "SR-DATA.MDB";
inline constexpr const char* kBoringTable = "ボーリング";
inline constexpr const char* kLinkCodeField = "LINKCODE";
inline constexpr const char* kSourceField = "ソース位置";
// The sort order the engine is asked for when a database is created.
inline constexpr const char* kDbLocale = ";LANGID=0x0411;CP=1252;COUNTRY=0";

}  // namespace s2q
