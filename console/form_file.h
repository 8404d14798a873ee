// The form definition file: the screens of the dialogue, their fields and
// the look-up lists, read from RootDir + "FORMS\" + module name + ".JPN".
//
// The file is sequential text: items separated by commas or line ends, text
// items possibly quoted. Comment lines beginning with "'" may come before
// the first data item only. Then the screen count and the largest field
// count, the screens one after the other, the item count and the items.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace console {

struct FormField {
  // Row, caption column, value length, shown width, trailing cells, flags,
  // value type, look-up list (in file order).
  std::array<std::int16_t, 8> ints{};
  std::string caption;  // already through the text catalogue
  std::string options;  // field option list, already through the catalogue
  std::string value;    // exactly ints[2] bytes, blank padded

  std::int16_t Row() const { return ints[0]; }
  std::int16_t CaptionColumn() const { return ints[1]; }
  std::int16_t Length() const { return ints[2]; }
  std::int16_t ShownWidth() const { return ints[3]; }
  std::int16_t TrailingCells() const { return ints[4]; }
  std::int16_t Flags() const { return ints[5]; }
  std::int16_t ValueType() const { return ints[6]; }
  std::int16_t LookupList() const { return ints[7]; }
  bool operator==(const FormField&) const = default;
};

// Field flags.
inline constexpr std::int16_t kFieldEditEmpty = 1;
inline constexpr std::int16_t kFieldHidden = 2;
inline constexpr std::int16_t kFieldDisplayOnly = 4;
inline constexpr std::int16_t kFieldCursorAtEnd = 8;

struct FormScreen {
  std::string keys;                  // exit-key list, stored unchanged
  std::int16_t fieldCount = 0;       // the module may lower it for a while
  std::int16_t continuation = 0;     // continuation screen, 0 = none
  std::array<std::int16_t, 4> geometry{};  // top, left, bottom, right; top 0 = no window
  std::vector<FormField> fields;     // fields[0] is field 1
  bool operator==(const FormScreen&) const = default;
};

// A look-up list: data file, key number, window (4), filter screen, then the
// list offered on F4, and the heading line.
struct FormItem {
  std::array<std::int16_t, 8> ints{};
  std::string text;
  bool operator==(const FormItem&) const = default;
};

struct FormScreens {
  std::int16_t maxFields = 0;
  std::vector<FormScreen> screens;  // screens[0] is screen 1
  std::vector<FormItem> items;      // items[0] is list 1

  // 1-based access; out of range throws std::out_of_range.
  FormScreen& Screen(int s) { return screens.at(static_cast<std::size_t>(s - 1)); }
  const FormScreen& Screen(int s) const { return screens.at(static_cast<std::size_t>(s - 1)); }
  FormField& Field(int s, int j) { return Screen(s).fields.at(static_cast<std::size_t>(j - 1)); }
  const FormField& Field(int s, int j) const { return Screen(s).fields.at(static_cast<std::size_t>(j - 1)); }
};

using TextTranslator = std::function<std::string(std::string_view)>;

struct FormFileResult {
  FormScreens forms;
  // Empty when the whole file was read; else what is wrong (in English, for
  // the log and the message the caller builds around the file name).
  std::string error;
  bool missing = false;  // the file could not be opened at all
  bool ok() const { return error.empty(); }
};

// Reads the file's bytes (code page 850). Captions, option lists and item
// texts go through `translate` (identity when empty). A file that ends
// before all it announces, or a number item that is not a number, is
// reported in `error`; `forms` then holds what was read.
FormFileResult ParseFormFile(std::string_view bytes, const TextTranslator& translate = {});

// Reads the module's form definition file RootDir + "FORMS\" + module +
// ".JPN" through the text catalogue. A missing or damaged file gives an
// error whose text names the file.
FormFileResult LoadFormFile(std::string_view rootDir, std::string_view moduleName);

// Writes `text` into a value buffer of `width` bytes, cut or blank padded.
std::string FitValue(std::string_view text, std::size_t width);

}  // namespace console
