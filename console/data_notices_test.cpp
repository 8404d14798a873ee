#include "console/data_notices.h"

#include "console/console_ui.h"
#include "console/form_input.h"
#include "console/test_terminal.h"
#include "console/window_stack.h"
#include "platform/session_end.h"

namespace console {
namespace {

using testing::ConsoleTest;

class DataNoticesTest : public ConsoleTest {
 protected:
  void TearDown() override {
    data::SetNotice(nullptr);
    ConsoleTest::TearDown();
  }
};

TEST_F(DataNoticesTest, NoticesUseTheMessageBoxAndTheKeyboard) {
  InstallDataNotices();
  data::Notice& notice = data::CurrentNotice();
  term.Fill();
  const auto before = term.Cells();
  notice.Show("Esperant el registre", 12);
  EXPECT_EQ(PopupWindow().Level, 1);
  EXPECT_EQ(term.Text(10, PopupWindow().Left + 2, 20), "Esperant el registre");
  notice.Hide();
  EXPECT_EQ(PopupWindow().Level, 0);
  EXPECT_EQ(term.Cells(), before);

  notice.Beep();
  EXPECT_EQ(term.beeps, 1);

  EXPECT_EQ(notice.PollKey(), 0);
  term.Keys("ab");
  EXPECT_EQ(notice.PollKey(), 'a');
  KeyReader().TypeAhead = "xyz";
  notice.DiscardKeys();
  EXPECT_TRUE(term.events.empty());
  EXPECT_EQ(notice.PollKey(), 0);

  term.Key(0x1b);
  term.Keys("n");
  notice.WaitKey();
  EXPECT_EQ(notice.PollKey(), 'n');  // WaitKey took exactly one key
}

TEST_F(DataNoticesTest, EndProcessEndsTheSessionByUnwinding) {
  // Unwinding, not exit(): the caller's objects release locks and remove
  // temporary files on the way to main.
  ConsoleNotice notice;
  try {
    notice.EndProcess(7);
    FAIL() << "EndProcess returned";
  } catch (const platform::SessionEnded& end) {
    EXPECT_EQ(end.exitStatus, 7);
  }
}

TEST_F(DataNoticesTest, FormUiCallsTheConsole) {
  ResetForms();
  InstallConsoleUi();
  FormUi& ui = Forms().ui;
  EXPECT_FALSE(ui.BrowseList);
  ASSERT_TRUE(ui.PushWindow && ui.PopWindow && ui.DrawFrame && ui.SetStyle && ui.SetKeyOptions &&
              ui.SetFieldOptions && ui.EditField && ui.WriteAt && ui.Beep && ui.ShowHelp);
  ui.PushWindow(5, 5, 10, 30);
  ui.SetStyle("n");
  ui.DrawFrame(2);
  ui.WriteAt(1, 1, "hola");
  EXPECT_EQ(term.Text(6, 6, 4), "hola");
  EXPECT_EQ(static_cast<unsigned char>(term.ReadCell(5, 5).ch), 0xC9);
  ui.SetKeyOptions("+ea", "d");
  ui.SetFieldOptions("");
  term.Key(0x5000);  // not an exit key: ignored
  term.Keys("si");
  term.Key(0x0d);
  std::int16_t row = 2, column = 2, width = 0, position = 1;
  Input ending;
  std::string text = "   ";
  ui.EditField(row, column, width, text, position, ending);
  EXPECT_EQ(text, "si ");
  EXPECT_EQ(ending, Input(0x0d));
  ui.SetKeyOptions("-", "");
  ui.Beep();
  EXPECT_EQ(term.beeps, 1);
  ui.PopWindow();
  EXPECT_EQ(PopupWindow().Level, 0);
  ResetForms();
}

}  // namespace
}  // namespace console
