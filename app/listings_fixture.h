// What the listing tests share: a scratch suite root with the catalogue and
// an administrator, the report state of property 7 for 2025, an open print
// channel and working file, and the print file read back as UTF-8 lines.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/listings.h"
#include "app/report.h"
#include "config/session.h"
#include "config/test_files.h"
#include "base/cp850.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/numbers.h"
#include "format/user_settings.h"

namespace app::testing {

inline std::string Padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

class ListingsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    config::ResetSession();
    config::Session().RootDir = dir_.path() + "/";
    config::Session().TempDir = dir_.path() + "/";
    config::Session().Language = "CAT";
    fs::create_directories(fs::path(dir_.path()) / "LOCALE");
    fs::copy_file(fs::path(KIT_SUITE_DIR) / "LOCALE" / "REPQUOTA.LNG",
                  fs::path(dir_.path()) / "LOCALE" / "REPQUOTA.LNG");
    WriteAdministrator("Linia5=\r\nLinia6=\r\nPoblacio=BARCELONA\r\n");
    format::SetCurrency("a,E");
    BudgetState& b = report_.budget;
    b.NextStart = format::PackDate(2025, 1, 1);
    b.NextEnd = format::PackDate(2025, 12, 31);
    for (std::size_t k = 1; k <= kColumns; ++k) b.ColumnName[k] = std::string(30, ' ');
    b.PropertyName = "C.P. PROVENCA, 12";
    report_.parameters.PropertyCode = format::PackDigits("0007");
    report_.parameters.ReportDate = format::PackDate(2024, 11, 15);
    ASSERT_TRUE(report_.working.Open());
    ASSERT_TRUE(report_.channel.Open(""));
  }
  void TearDown() override {
    report_.channel.Close();
    report_.working.Close();
    format::SetCurrency("a,E");
    format::SetLanguage("CAT");
    config::ResetSession();
  }
  // Lines 1 to 4 and the tax number are always the same; `rest` adds lines
  // 5 and 6 and the place.
  void WriteAdministrator(const std::string& rest) {
    dir_.Write("Vora.ini",
               "[Administrador]\r\nLinia1=FINQUES ROCA\r\nLinia2=C. MAJOR, 1\r\nLinia3=08001 BARCELONA\r\n"
               "Linia4=TEL. 930 000 000\r\nNIF=ES 38.123.456-Z\r\n" +
                   rest);
  }
  // The print file's lines without their CR LF, in UTF-8.
  std::vector<std::string> Lines() {
    report_.channel.Close();
    std::ifstream in(std::filesystem::path(dir_.path()) / "kitprint.tmp", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(base::Cp850ToUtf8(line));
    }
    return lines;
  }

  config::testing::ScratchDir dir_;
  Report report_;
};

}  // namespace app::testing
