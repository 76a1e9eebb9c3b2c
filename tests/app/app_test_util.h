// Shared pieces of the application tests: temporary folders, files, the
// windows on a fake sound input, generated NAVTEX audio.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/qt_capture.h"
#include "app/recoding.h"
#include "audio/capture_engine.h"
#include "audio/fake_wave_in.h"
#include "signal/navtex_signal.h"
#include "support/test_audio.h"

namespace brontel::test {

inline std::string ReadBytes(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

// Processes events until `done` holds or `ms` milliseconds have passed.
inline bool PumpUntil(const std::function<bool()>& done, int ms)
{
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Brontel's windows on a fake sound input, with every modal part replaced:
// the file name to save to comes from SaveAs, failures are collected, the
// device dialog's pause and the programs it would start are recorded. `adjust`
// may change the options before the windows are built.
struct TAppFixture {
  explicit TAppFixture(const std::string& ini = {}, TWaveInDriver* driver = nullptr,
                       const std::function<void(TForm1Options&)>& adjust = {})
  {
    SettingsPath = Dir.filePath(QStringLiteral("brontel.ini")).toStdString();
    if (!ini.empty()) WriteBytes(SettingsPath, ini);
    TForm1Options options;
    options.Driver = driver ? driver : &Fake;
    options.SettingsPath = SettingsPath;
    options.CaptureErrors = &CaptureErrors;
    options.MessageStorePath = Dir.filePath(QStringLiteral("store/messages.sqlite")).toStdString();
    options.RaiseAlert = [this](const msg::TMessage& m) { Alerts.push_back(m.Id); };
    options.SaveFileName = [this](QWidget*, const QString& title, const QString& filter) {
      DialogTitle = title;
      DialogFilter = filter;
      return SaveAs;
    };
    options.ShowError = [this](QWidget*, const QString& text) { Errors.push_back(text); };
    options.ShowNotice = [this](QWidget*, const QString& text) { Notices.push_back(text); };
    options.OnStage = [this](const char* stage) {
      if (OnStage) OnStage(stage);
    };
    options.DeviceDialog.Pause = [this](int ms) {
      Pauses.push_back(ms);
      if (OnPause) OnPause();
    };
    options.DeviceDialog.StartDetached = [this](const QString& program, const QStringList& arguments) {
      Started.push_back(QStringList{program} + arguments);
      return true;
    };
    if (adjust) adjust(options);
    Windows = std::make_unique<TApplicationWindows>(std::move(options));
  }
  TForm1& Form1() { return *Windows->Form1; }
  std::string Path(const char* name) const { return Dir.filePath(QString::fromUtf8(name)).toStdString(); }

  struct TErrors final : TErrorReporter {
    void ShowError(std::string_view a, std::string_view b) override
    {
      Shown.push_back(std::string(a) + "\n" + std::string(b));
    }
    std::vector<std::string> Shown;
  };

  QTemporaryDir Dir;
  std::string SettingsPath;
  TFakeDriver Fake;
  TErrors CaptureErrors;
  QString SaveAs;
  QString DialogTitle, DialogFilter;
  std::vector<QString> Errors;
  std::vector<std::string> Alerts;  // identities of the messages that raised the alert
  std::vector<QString> Notices;
  std::function<void(const char* stage)> OnStage;
  std::vector<int> Pauses;             // pauses asked for behind the notice window
  std::function<void()> OnPause;       // runs during each of them
  std::vector<QStringList> Started;    // programs started, each with its arguments
  std::unique_ptr<TApplicationWindows> Windows;
};

// Plays `copies` emissions of the English `text` at `snrDb` (noise seeds from
// `firstSeed`) into the windows' fake input block by block, each block
// processed before the next; `each` is called with a block's index first.
inline void PlayEnglish(TAppFixture& app, const std::string& text, int copies, double snrDb, uint32_t firstSeed,
                        const std::function<void(std::size_t)>& each = {})
{
  std::vector<uint8_t> codes;
  std::string error;
  ASSERT_TRUE(gen::EnglishCodes(text, codes, error)) << error;
  gen::TFskParams fsk;
  fsk.Amplitude = 1000.0;
  fsk.SnrDb = snrDb;
  gen::TEmission e;
  e.PhasingSeconds = 3.0;
  std::vector<int16_t> pcm = gen::NoiseOnly(0.5, fsk, 9);
  for (int copy = 0; copy < copies; ++copy) {
    fsk.Seed = firstSeed + static_cast<uint32_t>(copy);
    const auto one = gen::ModulateFsk(gen::EmissionBits(codes, e), fsk);
    pcm.insert(pcm.end(), one.begin(), one.end());
  }
  const std::size_t frames = FramesPerBlock;
  std::vector<int16_t> block(BlockSamples);
  TForm1& f = app.Form1();
  for (std::size_t start = 0; start < pcm.size(); start += frames) {
    if (each) each(start / frames);
    std::fill(block.begin(), block.end(), 0);
    for (std::size_t j = 0; j < frames && start + j < pcm.size(); ++j) block[2 * j] = pcm[start + j];
    const uint64_t before = f.Capture()->BlocksProcessed();
    ASSERT_TRUE(app.Fake.Device->FillNextWith(block));
    ASSERT_TRUE(PumpUntil([&] { return f.Capture()->BlocksProcessed() > before; }, 5000));
  }
}

// A stereo 16-bit 44100 Hz WAV file with `left` on the left channel.
inline void WriteWav(const std::string& path, const std::vector<int16_t>& left)
{
  WriteStereoWav(path, left, /*copyToRight=*/false);
}

}  // namespace brontel::test
