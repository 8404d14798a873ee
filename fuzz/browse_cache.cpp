// The look-up list cache "Browse.tmp" as a kept cache: its rows paged
// through in every direction, with more rows appended after it.
// Input: window height, width, how many rows the list adds, the moves (one
// byte each, up to a zero byte), then the cache file's bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/browse_list.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const auto height = static_cast<std::int16_t>(data[0] % 24 + 1);
  const auto width = static_cast<std::int16_t>(data[1] % 80 + 1);
  int rowsToAdd = data[2] % 8;
  std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::size_t movesEnd = std::min(rest.find('\0'), rest.size());
  const std::string_view moves = rest.substr(0, movesEnd);
  const std::string cache(rest.substr(std::min(movesEnd + 1, rest.size())));

  console::BrowseCache::Producer producer;
  if (rowsToAdd > 0) {
    producer = [&rowsToAdd](std::int32_t& record, std::string& text) {
      if (rowsToAdd == 0) return false;
      record = rowsToAdd;
      text = "added row " + std::to_string(rowsToAdd--);
      return true;
    };
  }
  std::unique_ptr<console::BrowseCache> kept = console::BrowseCache::InMemory(cache, producer);
  console::BrowsePager pager(*kept, height, width);
  pager.Layout();
  for (char move : moves) {
    using Move = bool (console::BrowsePager::*)();
    static constexpr Move kMoves[] = {&console::BrowsePager::Up,     &console::BrowsePager::Down,
                                      &console::BrowsePager::PageUp, &console::BrowsePager::PageDown,
                                      &console::BrowsePager::Left,   &console::BrowsePager::Right};
    (pager.*kMoves[static_cast<unsigned char>(move) % std::size(kMoves)])();
    FUZZ_CHECK(pager.Cursor() >= 1 && pager.Cursor() <= height);
    FUZZ_CHECK(pager.Lines() >= 0 && pager.Lines() <= height);
    for (std::int16_t r = 1; r <= height; ++r)
      FUZZ_CHECK(pager.Shown(r).size() == static_cast<std::size_t>(width));
    FUZZ_CHECK(pager.Heading("Code_Name").size() == static_cast<std::size_t>(width) + 2);
  }
  return 0;
}
