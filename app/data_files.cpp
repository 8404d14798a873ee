#include "app/data_files.h"

#include "data/files.h"

namespace app {

std::size_t RecordAreas::IndexOf(std::int16_t fileId) {
  std::size_t i = 0;
  while (i < kDataFiles.size() && kDataFiles[i].id != fileId) ++i;
  return i;
}

std::span<char> RecordAreas::For(std::int16_t fileId) {
  const std::size_t i = IndexOf(fileId);
  return i < areas_.size() ? std::span<char>(areas_[i]) : std::span<char>();
}

std::span<const char> RecordAreas::For(std::int16_t fileId) const {
  const std::size_t i = IndexOf(fileId);
  return i < areas_.size() ? std::span<const char>(areas_[i]) : std::span<const char>();
}

void OpenModuleFiles(RecordAreas& areas) {
  for (const DataFileName& file : kDataFiles) data::OpenDataFile(file.id, file.name, areas.For(file.id));
}

std::string_view OpenExistingModuleFiles(RecordAreas& areas) {
  for (const DataFileName& file : kDataFiles) {
    if (data::OpenDataFile(file.id, file.name, areas.For(file.id), data::MissingDataFile::kReport) ==
        data::kStatusFileNotFound)
      return file.name;
  }
  return {};
}

}  // namespace app
