#include "console/size_notice.h"

#include "config/built_in_texts.h"

namespace console {
namespace {

std::string Size(int rows, int columns) { return std::to_string(columns) + " x " + std::to_string(rows); }

}  // namespace

std::string TerminalTooSmallNotice(int neededRows, int neededColumns, int rows, int columns) {
  using config::InSessionLanguage;
  return std::string(InSessionLanguage(config::texts::kTerminalTooSmall)) + Size(rows, columns) +
         std::string(InSessionLanguage(config::texts::kNeeds)) + Size(neededRows, neededColumns) +
         std::string(InSessionLanguage(config::texts::kAtLeast));
}

}  // namespace console
