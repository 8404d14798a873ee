#include "console/window_stack.h"

#include <cerrno>
#include <cstdio>

#include "base/little_endian.h"
#include "config/session.h"
#include "console/screen.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/terminal.h"

namespace console {

namespace {

// The stack file starts with the position (from 1) of its first free
// byte, 32-bit little-endian; a record per window follows: ten two-digit
// numbers, the saved cells (character and attribute), and the record's
// length in five digits.
constexpr std::size_t kPointerBytes = 4;
constexpr std::size_t kEmptyFree = kPointerBytes + 1;  // the free position of an empty stack
constexpr std::size_t kHeader = 20;  // ten two-digit numbers
constexpr std::size_t kTrailer = 5;  // the record length, five digits

std::string TwoDigits(int value) {
  // Only the last two digits are kept, as in the stored record.
  int v = value % 100;
  if (v < 0) v = -v;
  char buffer[3];
  std::snprintf(buffer, sizeof buffer, "%02d", v);
  return buffer;
}

// Where the stack lives while its file cannot be used.
struct MemoryStack {
  bool inUse = false;
  std::string bytes;
};
MemoryStack& Fallback() {
  static MemoryStack stack;
  return stack;
}

// The stack's bytes: the file's (none when it is missing), or the copy in
// memory once the file could not be read or written.
std::string LoadStack(const std::string& path) {
  MemoryStack& memory = Fallback();
  if (memory.inUse) return memory.bytes;
  platform::ReadResult read = platform::ReadWholeFile(path);
  if (read.ok()) return std::move(read.bytes);
  if (read.status.error != ENOENT) {
    // An unreadable stack (a directory, an I/O error) is started afresh.
    memory.inUse = true;
    memory.bytes.clear();
  }
  return {};
}

void StoreStack(const std::string& path, const std::string& bytes) {
  MemoryStack& memory = Fallback();
  if (!memory.inUse) {
    if (platform::WriteWholeFile(path, bytes).ok()) return;
    memory.inUse = true;
  }
  memory.bytes = bytes;
}

// Once empty, the stack goes back to its file.
void DropStack(const std::string& path) {
  MemoryStack& memory = Fallback();
  if (memory.inUse) {
    memory = MemoryStack{};
    return;
  }
  platform::CurrentFileSystem().Remove(path);
}

void PutU32(std::string& b, std::uint32_t v) {
  if (b.size() < kPointerBytes) b.resize(kPointerBytes, '\0');
  base::WriteLe<std::uint32_t>(b, 0, v);
}

// A decimal number of exactly `count` digits at byte `at`, or -1.
int Digits(std::string_view b, std::size_t at, std::size_t count) {
  if (at + count > b.size()) return -1;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = b[at + i];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The stack record of the area from `top`, `left` to `bottom`, `right`:
// the cursor, the window open before it, the area and its cells.
std::string AreaRecord(platform::Terminal& term, const PopupWindowState& previous, int top, int left, int bottom,
                       int right) {
  std::string record;
  for (int v : {term.CursorRow(), term.CursorColumn(), int{previous.Top}, int{previous.Left},
                int{previous.Bottom}, int{previous.Right}, top, left, bottom, right}) {
    record += TwoDigits(v);
  }
  // An area given bottom above top saves no cells, as the loops run no times.
  for (int row = top; row <= bottom; ++row) {
    for (int column = left; column <= right; ++column) {
      const platform::Cell cell = term.ReadCell(row, column);
      record.push_back(static_cast<char>(cell.ch));
      record.push_back(static_cast<char>(cell.attr));
    }
  }
  char length[16];
  std::snprintf(length, sizeof length, "%05zu", record.size() + kTrailer);
  record += length;
  return record;
}

// Puts the saved cells back on the screen, and the cursor where it was.
void RestoreArea(platform::Terminal& term, const SavedArea& area) {
  std::size_t at = 0;
  for (int row = area.top; row <= area.bottom; ++row) {
    for (int column = area.left; column <= area.right; ++column) {
      const auto ch = static_cast<unsigned char>(area.cells[at]);
      const auto attr = static_cast<unsigned char>(area.cells[at + 1]);
      at += 2;
      // An attribute is foreground + 16 x background.
      term.SetColour(attr % 16, attr / 16);
      term.SetCursor(row, column);
      term.Write(std::string_view(reinterpret_cast<const char*>(&ch), 1));
    }
  }
  term.SetCursor(area.cursorRow, area.cursorColumn);
}

}  // namespace

std::string WindowStackPath() { return platform::HostPathOrRaw(config::Session().TempDir + "WinPush.tmp"); }

StackTop ReadStackTop(std::string_view bytes, SavedArea& area) {
  area = SavedArea{};
  if (bytes.size() < kPointerBytes) return StackTop::kNoStack;
  // Every check below guards against a record cut short or overwritten by a
  // run that died half way: such a stack cannot be trusted.
  const std::size_t free = base::ReadLe<std::uint32_t>(bytes, 0);
  if (free < kEmptyFree || free > bytes.size() + 1) return StackTop::kDamaged;
  if (free == kEmptyFree) return StackTop::kEmpty;
  const std::size_t end = free - 1;  // bytes before the free position
  if (end < kPointerBytes + kTrailer) return StackTop::kDamaged;
  const int length = Digits(bytes, end - kTrailer, kTrailer);
  if (length < static_cast<int>(kHeader + kTrailer) || static_cast<std::size_t>(length) > end - kPointerBytes)
    return StackTop::kDamaged;
  const std::size_t start = end - static_cast<std::size_t>(length);
  int numbers[10];
  for (std::size_t i = 0; i < 10; ++i) {
    numbers[i] = Digits(bytes, start + 2 * i, 2);
    if (numbers[i] < 0) return StackTop::kDamaged;
  }
  area.cursorRow = numbers[0];
  area.cursorColumn = numbers[1];
  area.previousTop = numbers[2];
  area.previousLeft = numbers[3];
  area.previousBottom = numbers[4];
  area.previousRight = numbers[5];
  area.top = numbers[6];
  area.left = numbers[7];
  area.bottom = numbers[8];
  area.right = numbers[9];
  const std::size_t cells =
      area.bottom >= area.top && area.right >= area.left
          ? static_cast<std::size_t>((area.bottom - area.top + 1) * (area.right - area.left + 1))
          : 0;
  if (kHeader + 2 * cells + kTrailer != static_cast<std::size_t>(length)) return StackTop::kDamaged;
  area.cells = bytes.substr(start + kHeader, 2 * cells);
  area.start = start;
  return StackTop::kArea;
}

void PushWindow(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right) {
  const int rows = ScreenRows();
  const int columns = ScreenColumns();
  if (top < 1 || top > rows || left < 1 || left > columns || bottom < 1 || bottom > rows || right < 1 ||
      right > columns) {
    return;
  }
  platform::Terminal& term = platform::CurrentTerminal();
  const std::string path = WindowStackPath();
  std::string bytes = LoadStack(path);
  std::size_t free = kEmptyFree;
  if (bytes.size() >= kPointerBytes) free = base::ReadLe<std::uint32_t>(bytes, 0);
  // A start pointer that cannot be right (a damaged file) starts the stack afresh.
  if (free < kEmptyFree || free > bytes.size() + 1) {
    bytes.clear();
    free = kEmptyFree;
  }
  if (bytes.size() < kPointerBytes) bytes.resize(kPointerBytes, '\0');

  const PopupWindowState previous = PopupWindow();
  const std::string record = AreaRecord(term, previous, top, left, bottom, right);

  const std::size_t at = free - 1;  // positions count from 1
  if (bytes.size() < at + record.size()) bytes.resize(at + record.size(), '\0');
  bytes.replace(at, record.size(), record);
  PutU32(bytes, static_cast<std::uint32_t>(free + record.size()));
  PopupWindow() = PopupWindowState{static_cast<std::int16_t>(previous.Level + 1), top, left, bottom, right};
  StoreStack(path, bytes);
}

void PopWindow() {
  platform::Terminal& term = platform::CurrentTerminal();
  const std::string path = WindowStackPath();
  std::string bytes = LoadStack(path);
  PopupWindowState& window = PopupWindow();
  SavedArea area;
  switch (ReadStackTop(bytes, area)) {
    case StackTop::kNoStack:
      DropStack(path);
      return;
    case StackTop::kEmpty:
    case StackTop::kDamaged:
      DropStack(path);
      window = PopupWindowState{};
      return;
    case StackTop::kArea:
      break;
  }
  window = PopupWindowState{
      static_cast<std::int16_t>(window.Level > 0 ? window.Level - 1 : 0),
      static_cast<std::int16_t>(area.previousTop), static_cast<std::int16_t>(area.previousLeft),
      static_cast<std::int16_t>(area.previousBottom), static_cast<std::int16_t>(area.previousRight)};
  RestoreArea(term, area);
  const std::size_t newFree = area.start + 1;
  if (newFree <= kEmptyFree) {
    DropStack(path);
    window.Level = 0;
    return;
  }
  PutU32(bytes, static_cast<std::uint32_t>(newFree));
  StoreStack(path, bytes);
}

}  // namespace console
