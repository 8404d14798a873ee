#include "base/strings.h"

namespace base {

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = AsciiUpper(c);
  return upper;
}

}  // namespace base
