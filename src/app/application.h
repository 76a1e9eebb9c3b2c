// Brontel's three windows, created at program start in this order: the main
// window (which opens the sound input as the last step of its construction),
// the notice window and the device dialog; destroyed in the reverse order.
#pragma once

#include <memory>

#include "app/recoding.h"

namespace brontel {

class TDeviceDialog;
class TNoticeWindow;

class TApplicationWindows {
public:
  explicit TApplicationWindows(TForm1Options options);
  ~TApplicationWindows();  // DeviceDialog, then NoticeWindow, then Form1
  TApplicationWindows(const TApplicationWindows&) = delete;
  TApplicationWindows& operator=(const TApplicationWindows&) = delete;

  // Shows the main window at its stored position.
  void Show();

  TForm1* Form1 = nullptr;
  TNoticeWindow* NoticeWindow = nullptr;
  TDeviceDialog* DeviceDialog = nullptr;
};

// The program: application title, the windows, the message loop. Returns the
// exit status; an exception from the start-up is shown and ends the program.
int RunBrontel(int argc, char** argv);

}  // namespace brontel
