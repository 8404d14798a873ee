// The print channel: everything the module prints goes, line by line, into
// the print file TempDir + "kitprint.tmp" (or, in a batch, a print file of
// each property's own), which the print program reads.
//
// Lines (CR LF ended): "DEVICE" + device name; "PAGE" + page length;
// "JUS" + justification code; "*" + free command; and text lines
// column "," text "," advance. Numbers are written with a sign position and
// a trailing blank: 10 is " 10 ".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace app {

class PrintChannel {
 public:
  // OpenPrintChannel: creates (or empties) the print file and writes the
  // device line. False when the file cannot be made. The file goes through
  // the file-system seam. `hostPath` names another print file than
  // TempDir + "kitprint.tmp".
  bool Open(std::string_view device, const std::string& hostPath = {});
  // ClosePrintChannel.
  void Close();
  // Closes the channel and removes the print file: after a failed report,
  // what was printed so far must not reach the print program.
  void Discard();
  // True when, since the last open, the print file could not be made or a
  // line could not be written (a full disk shows at the latest on closing).
  bool Failed() const { return failed_; }
  // The system's reason for that failure ("No space left on device"), and
  // its error number, which config::FileFailureReason puts in the
  // operator's words.
  const std::string& Failure() const { return failure_; }
  int FailureError() const { return failureError_; }

  void SetPageLength(std::int16_t lines);
  // Normalises `code`, writes it and returns the code written.
  std::string SetJustification(std::string_view code);
  void SendPrintCommand(std::string_view text);
  // Writes a text line: control bytes become blanks, a full page first gets
  // a new page line.
  void PrintLine(std::int16_t column, std::string_view text, std::int16_t advance);

  // Lines advanced since the last page line, and the column the line being
  // built has reached.
  std::int16_t LineCount() const { return lineCount_; }
  std::int16_t ColumnCount() const { return columnCount_; }

 private:
  void NoteFailure(const platform::FileStatus& status);
  void WriteRecord(std::string_view line);
  void FlushPending();

  std::int16_t pageLength_ = 0;
  std::int16_t lineCount_ = 0;
  std::int16_t columnCount_ = 0;
  std::unique_ptr<platform::File> file_;
  std::string path_;     // the host path of the print file
  std::string pending_;  // lines gathered for one large write
  std::uint64_t written_ = 0;
  // A print file that could not be made or written completely; the run
  // must not hand a cut listing to the print program as if it were whole.
  bool failed_ = false;
  std::string failure_;  // the system's reason for the first failure
  int failureError_ = 0;
};

}  // namespace app
