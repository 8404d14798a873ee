// The print channel: everything the module prints goes, line by line, into
// the print file TempDir + "kitprint.tmp", which the print program reads.
//
// Lines (CR LF ended): "DEVICE" + device name; "PAGE" + page length;
// "JUS" + justification code; "*" + free command; and text lines
// column "," text "," advance. Numbers are written with a sign position and
// a trailing blank: 10 is " 10 ".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

struct PrintChannelState {
  std::int16_t PageLength = 0;
  std::int16_t LineCount = 0;
  std::int16_t ColumnCount = 0;
};
PrintChannelState& PrintChannel();

// Creates (or empties) the print file and writes the device line. False
// when the file cannot be made. The file goes through the file-system seam.
bool OpenPrintChannel(std::string_view device);
void ClosePrintChannel();
// Closes the channel and removes the print file: after a failed report,
// what was printed so far must not reach the print program.
void DiscardPrintChannel();
bool PrintChannelOpen();
// True when, since the last open, the print file could not be made or a
// line could not be written (a full disk shows at the latest on closing).
bool PrintChannelFailed();
// The system's reason for that failure ("No space left on device").
std::string PrintChannelFailure();

void SetPageLength(std::int16_t lines);
// Normalises `code`, writes it and returns the code written.
std::string SetJustification(std::string_view code);
void SendPrintCommand(std::string_view text);
// Writes a text line: control bytes become blanks, a full page first gets a
// new page line.
void PrintLine(std::int16_t column, std::string_view text, std::int16_t advance);

// A number as the print file writes it: " 10 ", "-3 ".
std::string PrintedNumber(long value);

}  // namespace app
