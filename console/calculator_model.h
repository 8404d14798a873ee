// The pop-up calculator's state and what its keys do to it, apart from the
// screen: an adding machine whose operators act at once, left to right, on an
// accumulator, with a tape of the last 22 operations.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace console {

struct TapeSlot {
  double value = 0;
  bool point = false;
  std::int16_t decimals = 0;
  char op = ' ';
};

inline constexpr std::int16_t kTapeSlots = 22;
// Tape slot i shows on screen row i, below the tape's top line on the row
// above it: at most slots 2 to 22 show, and a first shown slot of 23 shows
// none.
inline constexpr std::int16_t kTapeTopmost = 2;
inline constexpr std::int16_t kTapeNoneShown = kTapeSlots + 1;
inline constexpr std::int16_t kCalcWidth = 26;  // border to border
inline constexpr std::int16_t kCalcLastColumn = 80 - kCalcWidth + 1;

struct CalcState {
  std::int16_t CalcColumn = 1;  // left border
  std::int16_t TapeTop = kTapeNoneShown;  // first slot shown
  double CalcEntry = 0;
  double CalcAccumulator = 0;
  bool cleared = true;
  bool entering = false;
  bool point = false;
  std::int16_t decimals = 0;
  std::string lastKey;
  std::string pending;
  std::array<TapeSlot, kTapeSlots> tape{};  // [0] is slot 1, [21] the newest
};

// What the screen must do after a key.
enum class CalcAction { None, Display, Tape, Move, Reopen, Finish, Cancel };

CalcAction CalcHandleKey(CalcState& state, std::int16_t key);

// The 22-position display text of a value.
std::string CalcNumberText(double value, bool point, std::int16_t decimals);

// The text typed into the field on "F": the value in hundredths, with "-"
// in front when negative; "" for 0 and for a value the display cannot hold.
std::string CalcResultText(const CalcState& state);

// The state file's contents, and reading them back. A damaged text (wrong
// number of items, text where a number belongs, values out of range)
// gives the initial state and false; an empty text the initial state and true.
std::string CalcStateText(const CalcState& state);
bool ParseCalcState(std::string_view text, CalcState& state);

}  // namespace console
