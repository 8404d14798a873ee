// What kitprint says to the operator, in the session's language: its own
// catalogue "KITPRINT.LNG" under the suite root, as the suite's programs do.
#pragma once

#include <cstddef>
#include <string>

namespace kitprint {

// The catalogue kitprint's texts come from.
inline constexpr const char* kCatalogName = "KITPRINT";

// The pager's status line, " Page 2/5   ...keys... " translated (code page 850),
// in at most `width` characters: on a narrow terminal the key hints go
// first to last, so that how to leave stays in view.
std::string PagerStatus(std::size_t page, std::size_t pages, std::size_t width = std::string::npos);

// The notice shown once a listing was written to a file, and the request
// for a key that gives the terminal back (code page 850).
std::string SavedNotice(const std::string& path);
std::string PressAKey();

}  // namespace kitprint
