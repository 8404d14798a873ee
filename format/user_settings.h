// What the formatting library needs to know of the operator's settings.
//
// The date separator and order and the decimal and thousands characters
// come from the user configuration file, read on first use and then kept;
// the language chooses among the built-in date texts. The configuration
// layer installs the reader and the language when it loads the session, so
// that this library does not depend on it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace format {

// Returns the value of a key of the user settings ("DatCaracter",
// "DatOrdre", "DecCaracter", "MilCaracter"); empty when not set.
using UserSettingReader = std::function<std::string(std::string_view key)>;

void SetUserSettingReader(UserSettingReader reader);
// The value of a user setting through the installed reader, from its first
// non-blank character (empty without a reader or when all blank).
std::string ReadUserSetting(std::string_view key);

// The session's 3-byte language code ("SPA", "GLG", "OCI"; anything else is Catalan).
void SetLanguage(std::string_view code);
const std::string& Language();

// Callbacks run by ResetUserSettings, so that the date and mask code can
// forget the values they keep after their first use (tests, a new session).
void OnUserSettingsReset(std::function<void()> forget);
void ResetUserSettings();

}  // namespace format
