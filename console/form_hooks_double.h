// Form hooks for tests: each does what the test sets, or what a form
// without a module would (store the text as typed, accept, go on).
#pragma once

#include <functional>
#include <string>

#include "console/form_input.h"

namespace console::testing {

class FormHooksDouble : public FormHooks {
 public:
  std::function<void(int screen)> paintScreen;
  std::function<HookAnswer(int screen, std::string& text, int& field, std::int16_t& key)> validateField;
  std::function<void(int screen, int field)> showField;
  std::function<HookAnswer(int list, int screen, int& field)> applyLookup;
  std::function<HookAnswer(int screen, std::int16_t key)> validateScreen;
  std::function<HookAnswer(int list, std::string& startKey, std::string& endKey)> prepareList;
  std::function<std::string(int list)> formatListLine;

  void PaintScreen(int screen) override {
    if (paintScreen) paintScreen(screen);
  }
  HookAnswer ValidateField(int screen, std::string& text, int& field, std::int16_t& key) override {
    if (validateField) return validateField(screen, text, field, key);
    SetFieldValue(screen, field, text);
    return HookAnswer::kAccept;
  }
  void ShowField(int screen, int field) override {
    if (showField) showField(screen, field);
  }
  HookAnswer ApplyLookup(int list, int screen, int& field) override {
    return applyLookup ? applyLookup(list, screen, field) : HookAnswer::kAccept;
  }
  HookAnswer ValidateScreen(int screen, std::int16_t key) override {
    return validateScreen ? validateScreen(screen, key) : HookAnswer::kAccept;
  }
  HookAnswer PrepareList(int list, std::string& startKey, std::string& endKey) override {
    return prepareList ? prepareList(list, startKey, endKey) : HookAnswer::kAccept;
  }
  std::string FormatListLine(int list) override { return formatListLine ? formatListLine(list) : std::string(); }
};

}  // namespace console::testing
