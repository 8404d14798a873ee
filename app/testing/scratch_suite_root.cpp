#include "app/testing/scratch_suite_root.h"

#include <fstream>

#include "config/session.h"
#include "data/files.h"
#include "data/locks.h"
#include "format/user_settings.h"

namespace app::testing {

namespace fs = std::filesystem;

ScratchSuiteRoot::ScratchSuiteRoot() : previous_(fs::current_path()) {
  const fs::path root(dir_.path());
  fs::create_directories(root / "DADES");
  fs::create_directories(root / "LOCKS");
  fs::copy(fs::path(KIT_SUITE_DIR) / "ddf", root / "ddf");
}

ScratchSuiteRoot::~ScratchSuiteRoot() {
  std::error_code ec;
  fs::current_path(previous_, ec);
}

void ScratchSuiteRoot::WriteAdministratorSettings(std::string_view moreSections) const {
  std::ofstream(fs::path(dir_.path()) / "Vora.ini", std::ios::binary)
      << "[Administrador]\r\nLinia1=FINQUES ROCA\r\nLinia2=C. MAJOR, 1\r\nLinia3=08001 BARCELONA\r\n"
         "Linia4=TEL. 930 000 000\r\nNIF=ES 38.123.456-Z\r\nPoblacio=BARCELONA\r\n"
      << moreSections;
}

void ScratchSuiteRoot::Enter(std::string_view language) const {
  fs::current_path(dir_.path());
  config::ResetSession();
  config::Session().RootDir = dir_.path() + "/";
  config::Session().TempDir = dir_.path() + "/";
  if (!language.empty()) {
    config::Session().Language = std::string(language);
    format::SetLanguage(language);
  }
  data::ClearFileTable();
  data::ResetLocks();
}

}  // namespace app::testing
