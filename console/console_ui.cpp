#include "console/console_ui.h"

#include "console/field_editor.h"
#include "console/form_input.h"
#include "console/key_options.h"
#include "console/messages.h"
#include "console/screen.h"
#include "console/window_stack.h"
#include "platform/terminal.h"

namespace console {

void InstallConsoleUi() {
  FormUi& ui = Forms().ui;
  ui.PushWindow = PushWindow;
  ui.PopWindow = PopWindow;
  ui.DrawFrame = DrawFrame;
  ui.SetStyle = SetStyle;
  ui.SetKeyOptions = SetKeyOptions;
  ui.SetFieldOptions = SetFieldOptions;
  ui.EditField = EditField;
  ui.WriteAt = WriteAt;
  ui.Beep = [] { platform::CurrentTerminal().Beep(); };
  ui.ShowHelp = ShowHelp;
}

}  // namespace console
