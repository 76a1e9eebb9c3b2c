// The settings file: six values kept between runs in an INI file beside the
// executable (window position, display switches, input device, centre
// frequency). Read once while the main window is built, written each time it
// closes. Plain C++; no toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/atomic_file.h"

namespace brontel {

struct TSettings {
  int32_t MainTop = 0;         // [Form] MainTop: top edge of the main window, screen pixels
  int32_t MainLeft = 0;        // [Form] MainLeft: left edge of the main window
  bool DispSpectrum = true;    // [Disp] Spectrum: spectrum and waterfall display on
  bool DispEyepattern = true;  // [Disp] Eyepattern: eye-pattern display on
  int32_t InputIndex = 0;      // [Wave] Input: row of the device list (0 = standard input device)
  std::string InputName;       // [Wave] InputName: that device's listed name; finds it when its row moved
  int32_t CentFPosition = 80;  // [Wave] CentF: centre frequency / 10 Hz
  std::string Language;        // [Form] Language: "ja" or "en" (empty: from the environment); only read
  int32_t Decoder = 0;         // [Wave] Decoder: 0 the exact path, 1 the robust path
  bool StoreMessages = true;   // [Messages] Store: keep received messages in the message store
  std::string AlertSubjects = "D";  // [Messages] Alert: subjects (B2 letters) that raise the alert
};

// The settings file of an executable: its path with the extension of the last
// path element replaced by ".ini", or ".ini" appended when it has none (a
// leading dot does not start an extension).
std::string SettingsFileName(std::string_view executablePath);

// Reads the six keys; anything missing or unreadable takes its default. No
// value is checked against a range.
TSettings LoadSettings(const std::string& path);

// Writes the six keys into the file, leaving everything else in it as it was.
// All six are written in one atomic replacement of the file: either all of
// them reach the file or (on failure) the file is unchanged. False with the
// system's reason in `reason` on failure.
bool SaveSettings(const std::string& path, const TSettings& settings, std::string& reason,
                  const TFileWriteCalls& calls = SystemFileWriteCalls());

// The message telling the user that the settings file cannot be written, with
// the system's reason on a line of its own when there is one (UTF-8).
std::string CannotWriteMessage(std::string_view path, std::string_view reason = {});

}  // namespace brontel
