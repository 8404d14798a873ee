// The calculator's state file "KITCALC.TMP": read, written again, read
// back the same; then the keys after a zero byte (if any) act on it, as the
// operator would after opening the calculator.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/calculator_model.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t end = std::min(input.find('\0'), input.size());
  const std::string_view file = input.substr(0, end);
  const std::string_view keys = input.substr(std::min(end + 1, input.size()));

  console::CalcState state;
  if (!console::ParseCalcState(file, state)) return 0;
  const std::string text = console::CalcStateText(state);
  console::CalcState again;
  FUZZ_CHECK(console::ParseCalcState(text, again));
  FUZZ_CHECK(console::CalcStateText(again) == text);

  FUZZ_CHECK(console::CalcNumberText(state.CalcEntry, state.point, state.decimals).size() == 22);
  for (const console::TapeSlot& slot : state.tape)
    FUZZ_CHECK(console::CalcNumberText(slot.value, slot.point, slot.decimals).size() == 22);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    // Two bytes a key above 255 (extended keys), one byte otherwise.
    std::int16_t key = static_cast<unsigned char>(keys[i]);
    if (key == 0xFF && i + 1 < keys.size())
      key = static_cast<std::int16_t>(static_cast<unsigned char>(keys[++i]) << 8);
    console::CalcHandleKey(state, key);
    FUZZ_CHECK(console::CalcNumberText(state.CalcEntry, state.point, state.decimals).size() == 22);
    console::CalcResultText(state);
  }
  FUZZ_CHECK(console::ParseCalcState(console::CalcStateText(state), again));
  return 0;
}
