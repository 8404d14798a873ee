// The module's start and end: session, root directory, form file, data
// files, fee settings, the report dialogue, and closing everything.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace app {

inline constexpr std::string_view kModuleName = "REPQUOTA";

// The settings read once from RootDir + "Vora.ini".
struct FeeSettings {
  std::string LetterheadSetting;               // [Rebut] Membret
  std::array<float, 2> VatRate{};              // [Iva0] / [Iva1] Honoraris
  std::array<float, 2> WithholdingRate{};      // [Ret0] / [Ret1] Honoraris
};
FeeSettings& Fees();
void ReadFeeSettings();

// The eight data files, in the order they are opened.
struct DataFileName {
  std::int16_t id;
  std::string_view name;
};
inline constexpr std::array<DataFileName, 8> kDataFiles{{
    {501, "DADES\\TDespesa"},
    {504, "DADES\\THRebut"},
    {511, "DADES\\FinquesH"},
    {512, "DADES\\FinDespH"},
    {513, "DADES\\PropietH"},
    {515, "DADES\\PagamH"},
    {514, "DADES\\CobramH"},
    {516, "DADES\\PressupH"},
}};

// The record area a data file is opened with. Receipt types and properties
// use the hooks' areas; the others come from whoever registers them.
void SetRecordArea(std::int16_t fileId, std::span<char> area);
std::span<char> RecordArea(std::int16_t fileId);

// Session, root directory, form file (with the catalogue), defaults. An
// empty result means ready; otherwise the text of the problem, which names
// the file.
std::string PrepareModule();

// Opens the eight data files (a failure ends the process inside the data
// layer after its message).
void OpenModuleFiles();

// Why the last PrepareModule stopped, in the words of standard error
// (which file, which setting); empty when it did not.
const std::string& StartProblem();

// The whole run: prepare, open, settings, dialogue, close. Returns the
// process's exit status: 0; 1 when the form file cannot be used or a
// failure stopped a report (after the message was shown). A session that
// ends on the way (platform::SessionEnded) passes through, after the data
// files were closed and the window stack file put back as it was.
int RunModule();

}  // namespace app
