#include "app/administrator.h"

#include <cctype>

#include "config/ini.h"
#include "config/session.h"

namespace app {
namespace {

std::string Setting(const std::string& key) {
  return config::ReadIniValue(config::Session().RootDir + "Vora.ini", "Administrador", key);
}

}  // namespace

std::array<std::string, 9> AdministratorData() {
  std::array<std::string, 9> data;
  for (int i = 1; i <= 6; ++i) data[static_cast<std::size_t>(i)] = Setting("Linia" + std::to_string(i));
  data[7] = Setting("NIF");
  data[8] = Setting("Poblacio");
  return data;
}

std::string AdministratorTaxId() {
  std::string id;
  for (char c : Setting("NIF")) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 128 && std::isalnum(b)) id += static_cast<char>(std::toupper(b));
  }
  return id;
}

}  // namespace app
