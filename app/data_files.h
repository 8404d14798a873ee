// The module's eight data files: their identifiers, their names, the order
// they are opened in, and the record areas the data layer reads them into.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "records/layouts.h"

namespace app {

inline constexpr std::int16_t kConceptsFile = 501;
inline constexpr std::int16_t kReceiptTypesFile = 504;
inline constexpr std::int16_t kPropertiesFile = 511;
inline constexpr std::int16_t kConceptColumnsFile = 512;
inline constexpr std::int16_t kOwnersFile = 513;
inline constexpr std::int16_t kCollectionsFile = 514;
inline constexpr std::int16_t kPaymentsFile = 515;
inline constexpr std::int16_t kStoredBudgetFile = 516;

struct DataFileName {
  std::int16_t id;
  std::string_view name;
};
// In the order they are opened.
inline constexpr std::array<DataFileName, 8> kDataFiles{{
    {kConceptsFile, "DADES\\TDespesa"},
    {kReceiptTypesFile, "DADES\\THRebut"},
    {kPropertiesFile, "DADES\\FinquesH"},
    {kConceptColumnsFile, "DADES\\FinDespH"},
    {kOwnersFile, "DADES\\PropietH"},
    {kPaymentsFile, "DADES\\PagamH"},
    {kCollectionsFile, "DADES\\CobramH"},
    {kStoredBudgetFile, "DADES\\PressupH"},
}};

// One record area per file: the data layer reads records into it and
// writes them from it for as long as the file is open. Larger than any of
// the module's records.
class RecordAreas {
 public:
  // The area of one of the eight files; empty for any other identifier.
  std::span<char> For(std::int16_t fileId);
  std::span<const char> For(std::int16_t fileId) const;

 private:
  static std::size_t IndexOf(std::int16_t fileId);  // kDataFiles.size() for none

  static constexpr std::size_t kAreaSize = 1024;
  static_assert(kAreaSize >= records::kLargestRecord);
  std::array<std::array<char, kAreaSize>, kDataFiles.size()> areas_{};
};

// Opens the eight data files in their order, each with its record area (a
// failure ends the process inside the data layer after its message).
void OpenModuleFiles(RecordAreas& areas);
// The same for a program that runs unattended, where a data file gone
// missing must not be made empty and taken for one without records: the
// name of the first file that does not exist (the files before it left
// open), or empty when all eight are open.
std::string_view OpenExistingModuleFiles(RecordAreas& areas);

}  // namespace app
