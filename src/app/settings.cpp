#include "app/settings.h"

#include <string>

#include "app/private_profile.h"

namespace brontel {

std::string SettingsFileName(std::string_view executablePath)
{
  std::string path(executablePath);
  const std::size_t slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot > nameStart) path.erase(dot);
  return path + ".ini";
}

TSettings LoadSettings(const std::string& path)
{
  TPrivateProfile profile;
  profile.Load(path);  // missing or unreadable: every key takes its default
  const TSettings d;
  TSettings s;
  s.MainTop = profile.GetInt("Form", "MainTop", d.MainTop);
  s.MainLeft = profile.GetInt("Form", "MainLeft", d.MainLeft);
  s.DispSpectrum = profile.GetBool("Disp", "Spectrum", d.DispSpectrum);
  s.DispEyepattern = profile.GetBool("Disp", "Eyepattern", d.DispEyepattern);
  s.InputIndex = profile.GetInt("Wave", "Input", d.InputIndex);
  s.InputName = profile.GetString("Wave", "InputName", "");
  s.Language = profile.GetString("Form", "Language", "");
  s.CentFPosition = profile.GetInt("Wave", "CentF", d.CentFPosition);
  s.Decoder = profile.GetInt("Wave", "Decoder", d.Decoder) == 1 ? 1 : 0;
  s.StoreMessages = profile.GetBool("Messages", "Store", d.StoreMessages);
  s.AlertSubjects.clear();
  for (const char c : profile.GetString("Messages", "Alert", d.AlertSubjects)) {
    if (c >= 'A' && c <= 'Z') s.AlertSubjects.push_back(c);
    if (c >= 'a' && c <= 'z') s.AlertSubjects.push_back(static_cast<char>(c - 'a' + 'A'));
  }
  return s;
}

bool SaveSettings(const std::string& path, const TSettings& s, std::string& reason, const TFileWriteCalls& calls)
{
  TPrivateProfile profile;
  // A file that exists but cannot be read is not overwritten: its other
  // contents would be lost.
  if (profile.Load(path, &reason) == TPrivateProfile::TLoad::Failed) return false;
  profile.Set("Form", "MainTop", std::to_string(s.MainTop));
  profile.Set("Form", "MainLeft", std::to_string(s.MainLeft));
  profile.Set("Disp", "Spectrum", s.DispSpectrum ? "1" : "0");
  profile.Set("Disp", "Eyepattern", s.DispEyepattern ? "1" : "0");
  profile.Set("Wave", "Input", std::to_string(s.InputIndex));
  profile.Set("Wave", "CentF", std::to_string(s.CentFPosition));
  // The device's name is written once a device other than the standard one
  // was chosen (or the file has the key already).
  if (!s.InputName.empty() || profile.Get("Wave", "InputName")) profile.Set("Wave", "InputName", s.InputName);
  // The decoder path is written once it differs from the exact path (or the
  // file has the key already), so a file of someone who never chose the
  // robust path keeps its six keys.
  if (s.Decoder != 0 || profile.Get("Wave", "Decoder")) profile.Set("Wave", "Decoder", std::to_string(s.Decoder));
  return profile.Save(path, reason, calls);
}

std::string CannotWriteMessage(std::string_view path, std::string_view reason)
{
  std::string text = std::string(path) + " に書き込めません";
  if (!reason.empty()) text.append("\n").append(reason);
  return text;
}

}  // namespace brontel
