// The data layer's notices shown in the console's message box.
#pragma once

#include "data/notice.h"

namespace console {

class ConsoleNotice : public data::Notice {
 public:
  void Show(const std::string& text, int row) override;
  void Hide() override;
  void Beep() override;
  void DiscardKeys() override;
  void WaitKey() override;
  int PollKey() override;
  void StillWaiting() override;
  void EndProcess(int exitCode) override;
};

// Makes the data layer show its notices on the console for the rest of the run.
void InstallDataNotices();

}  // namespace console
