#include "format/user_settings.h"

#include <vector>

namespace format {
namespace {

struct State {
  UserSettingReader reader;
  std::string language = "   ";
  std::vector<std::function<void()>> forgetters;
};

State& S() {
  static State s;
  return s;
}

}  // namespace

void SetUserSettingReader(UserSettingReader reader) { S().reader = std::move(reader); }

std::string ReadUserSetting(std::string_view key) {
  std::string value = S().reader ? S().reader(key) : std::string();
  // INI values keep the blanks after "=": "DecCaracter = ," means a comma.
  value.erase(0, value.find_first_not_of(' '));
  return value;
}

void SetLanguage(std::string_view code) {
  std::string c(code.substr(0, 3));
  c.resize(3, ' ');
  S().language = c;
}

const std::string& Language() { return S().language; }

void OnUserSettingsReset(std::function<void()> forget) { S().forgetters.push_back(std::move(forget)); }

void ResetUserSettings() {
  for (auto& f : S().forgetters) f();
}

}  // namespace format
