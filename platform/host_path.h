// Suite paths to host paths.
//
// The suite writes paths the Windows way ("DADES\PropietH", a temporary
// directory ending in "\") and names its files without regard to case
// ("PRESSUPH.lck" and "PressupH.lck" are one file). Every file the programs
// open goes through HostPath.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Backslashes become "/", and each component is matched against what exists
// on disk: the exact name first, else a name that differs only in case (the
// first in byte order when there are several). Components that do not exist
// yet are kept as written, so the result also names files about to be
// created. A path with a drive letter ("C:...") has no host meaning: empty.
std::optional<std::string> HostPath(std::string_view suitePath);

// HostPath, or the path with only its separators turned when it has none
// (callers that must not fail get a path that will simply not be found).
std::string HostPathOrRaw(std::string_view suitePath);

// Whether a host path names an existing file or directory.
bool PathExists(const std::string& hostPath);

}  // namespace platform
