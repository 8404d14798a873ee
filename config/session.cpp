#include "config/session.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "config/ini.h"
#include "format/masks.h"
#include "format/numbers.h"
#include "format/user_settings.h"
#include "platform/system.h"

namespace config {
namespace {

// A directory text ready to have a file name appended: "C:", "D:\TMP\" and "/tmp/"
// stay, "D:\TMP" gets its backslash.
std::string WithSeparator(std::string dir) {
  if (!dir.empty() && dir.back() != ':' && dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

// The suite root ready to have "FORMS\..." appended. The suite's own
// texts join the root and the file name directly, so a KITROOT typed
// without its final "/" would name "...rootFORMS\REPQUOTA.JPN".
std::string RootWithSeparator(std::string root) {
  if (!root.empty() && root.back() != '/' && root.back() != '\\') root += '/';
  return root;
}

// The numeric value of a configuration text as a 16-bit integer.
std::int16_t NumberOf(std::string_view text) {
  double v = std::nearbyint(format::NumberValue(text));
  if (std::isnan(v)) v = 0;
  return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

// The 3-byte language field: cut after 3 bytes, padded with blanks.
std::string LanguageField(std::string_view value) {
  std::string code(value.substr(0, 3));
  code.resize(3, ' ');
  return code;
}

std::string Piece(std::string_view text, std::size_t from, std::size_t count) {
  return from < text.size() ? std::string(text.substr(from, count)) : std::string();
}

// Euros become the base and the shown currency.
void SetSessionCurrency() {
  format::SetCurrency("a,E");
}

}  // namespace

SessionSettings& Session() {
  static SessionSettings session;
  return session;
}

void ResetSession() { Session() = SessionSettings{}; }

void LoadSession() {
  SessionSettings& s = Session();
  s = SessionSettings{};

  s.RootDir = RootWithSeparator(platform::GetEnv("KITROOT"));
  s.ExeDir = platform::GetEnv("KITEXE");
  s.TempDir = WithSeparator(platform::GetEnv("KITTMP"));

  // The user's display settings live in the root's "Vora.ini"; the
  // formatting library reads them through this on first use.
  const std::string userFile = s.RootDir + "Vora.ini";
  format::SetUserSettingReader(
      [userFile](std::string_view key) { return ReadIniValue(userFile, "Usuari", key); });
  format::ResetUserSettings();

  const std::string sessionFile = s.TempDir + "Sessio.ini";
  s.MenuTitle = " " + ReadIniValue(sessionFile, "Menu", "Titol") + " ";
  s.MenuName = ReadIniValue(sessionFile, "Menu", "NomMenu");
  s.MenuEntry = ReadIniValue(sessionFile, "Menu", "Menu");
  s.MenuChain = ReadIniValue(sessionFile, "Menu", "ChnMenu");
  s.Operator = ReadIniValue(sessionFile, "Menu", "Operador");
  s.OperatorType = NumberOf(ReadIniValue(sessionFile, "Menu", "KitTipOper"));

  s.TerminalDir = ReadIniValue(sessionFile, "Terminal", "Dir");
  if (s.TerminalDir.empty()) s.TerminalDir = platform::GetEnv("TERM");
  s.TerminalDir = WithSeparator(s.TerminalDir);

  if (s.TempDir.empty()) s.TempDir = s.TerminalDir;

  SetSessionCurrency();

  const std::string terminalFile = s.TempDir + "VoraTerm.ini";
  const std::int16_t selection = NumberOf(ReadIniValue(terminalFile, "Pantalla", "Seleccio"));
  std::string colours = ReadIniValue(terminalFile, "Pantalla", "Col" + std::to_string(selection));
  if (colours.empty()) colours = "15000700000700070007";
  for (std::size_t i = 0; i < s.ColourPairs.size(); ++i) {
    s.ColourPairs[i].foreground = NumberOf(Piece(colours, 4 * i, 2));
    s.ColourPairs[i].background = NumberOf(Piece(colours, 4 * i + 2, 2));
  }

  s.WorkDate = format::PackDigits(ReadIniValue(terminalFile, "Sistema", "Data"));
  s.OutputDest = ReadIniValue(terminalFile, "Sistema", "Sortida");
  s.Language = LanguageField(ReadIniValue(terminalFile, "Sistema", "Idioma"));
  if (s.Language == "   ") s.Language = LanguageField(ReadIniValue(userFile, "Usuari", "Idioma"));
  format::SetLanguage(s.Language);

  if (!platform::GetEnv("HTTP_USER_AGENT").empty() || !platform::GetEnv("HTTP_ACCEPT").empty())
    s.RunEnvironment = "CGI";
  else if (!platform::GetEnv("WINDIR").empty() || !platform::GetEnv("SYSTEMROOT").empty())
    s.RunEnvironment = "WIN";
  else
    s.RunEnvironment = "DOS";
}

}  // namespace config
