#include "audio/live_source.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <exception>
#include <utility>


namespace brontel {

namespace {

using namespace std::chrono_literals;

constexpr auto WaitSlice = 50ms;  // longest wait before the stop flag is looked at again
constexpr int FirstBlockMs = 5000;  // no first block after an open for this long is reported

// Why an input did not open, for a notice.
std::string Reason(TWaveResult result)
{
  switch (result) {
    case TWaveResult::NoDriver: return "no sound server answers";
    case TWaveResult::BadDeviceId: return "no such input device";
    case TWaveResult::BadFormat: return "the recording format (44100 Hz, 16-bit stereo) is refused";
    case TWaveResult::NoMem: return "out of memory for the recording buffers";
    default: return "the device is busy or failed";
  }
}

std::string Lower(std::string_view s)
{
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// "2.0 s"
std::string Seconds(std::chrono::steady_clock::duration d)
{
  const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(d).count() / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

}  // namespace

std::vector<std::string> ListDevices(TWaveInDriver& driver)
{
  std::vector<std::string> rows{std::string(StandardInputName)};
  std::vector<std::string> names = InputDeviceNames(driver);
  rows.insert(rows.end(), std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
  return rows;
}

int FindDevice(const std::vector<std::string>& rows, std::string_view device, std::string& error)
{
  error.clear();
  if (!device.empty() && std::all_of(device.begin(), device.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    int row = -1;
    const auto [end, ec] = std::from_chars(device.data(), device.data() + device.size(), row);
    if (ec == std::errc() && end == device.data() + device.size()) return row;
    error = "input device number " + std::string(device) + " is out of range";
    return -1;
  }
  const std::string wanted = Lower(device);
  std::vector<int> parts;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string name = Lower(rows[i]);
    if (name == wanted) return static_cast<int>(i);
    if (!wanted.empty() && name.find(wanted) != std::string::npos) parts.push_back(static_cast<int>(i));
  }
  if (parts.size() == 1) return parts.front();
  if (parts.empty()) {
    error = "no input device matches \"" + std::string(device) + "\"";
  } else {
    error.assign(1, '"').append(device).append("\" matches several input devices:");
    for (int row : parts) {
      error.append(1, ' ').append(std::to_string(row)).append(" (");
      error.append(rows[static_cast<std::size_t>(row)]).append(1, ')');
    }
  }
  return -1;
}

void TNoticeReporter::ShowError(std::string_view firstLine, std::string_view secondLine)
{
  if (OnNotice)
    OnNotice(std::string(ErrorCaption) + ": " + std::string(firstLine) + " " + std::string(secondLine));
}

TLiveSource::TLiveSource(TWaveInDriver& driver, TLiveOptions options)
    : Driver(driver),
      Options(std::move(options)),
      Reporter([this](const std::string& text) { Notice(text); }),
      Engine(driver, Reporter, [this](uint64_t generation) { Post(generation); }),
      Index(Options.InputIndex)
{
}

TLiveSource::~TLiveSource()
{
  Close();
}

// On the audio side: nothing but queueing the message.
void TLiveSource::Post(uint64_t generation)
{
  {
    std::lock_guard lock(Mutex);
    if (QueueCount == QueueSize) {
      ++Overflow;
    } else {
      Queue[(QueueHead + QueueCount) % QueueSize] = generation;
      ++QueueCount;
    }
  }
  Cv.notify_one();
}

bool TLiveSource::Wait(uint64_t& generation, uint64_t& overflow, TClock::duration timeout)
{
  std::unique_lock lock(Mutex);
  Cv.wait_for(lock, timeout, [&] { return QueueCount > 0 || Overflow > 0 || StopRequested(); });
  overflow = std::exchange(Overflow, 0);
  if (QueueCount == 0) return false;
  generation = Queue[QueueHead];
  QueueHead = (QueueHead + 1) % QueueSize;
  --QueueCount;
  return true;
}

std::size_t TLiveSource::Pending()
{
  std::lock_guard lock(Mutex);
  return QueueCount;
}

void TLiveSource::Notice(const std::string& text)
{
  if (Options.OnNotice)
    Options.OnNotice(text);
  else
    std::fprintf(stderr, "%s\n", text.c_str());
}

std::string TLiveSource::RowName(int32_t row, const std::vector<std::string>& rows)
{
  if (row == 0) return "the " + std::string(StandardInputName);
  std::string name = "input device " + std::to_string(row);
  if (row > 0 && static_cast<std::size_t>(row) < rows.size()) name += " (" + rows[static_cast<std::size_t>(row)] + ")";
  return name;
}

template <class F>
bool TLiveSource::Guarded(F&& step)
{
  try {
    return step();
  } catch (const std::exception& e) {
    Err = std::string("live input failed: ") + e.what();
  } catch (...) {
    Err = "live input failed";
  }
  Close();
  return false;
}

bool TLiveSource::Open()
{
  if (Engine.IsRecording()) return true;
  if (!Err.empty()) return false;
  return Guarded([this] { return TryOpen(); });
}

bool TLiveSource::TryOpen()
{
  std::vector<std::string> rows = ListDevices(Driver);
  NextTry = TClock::now() + std::chrono::milliseconds(std::max(Options.RetryMs, 1));

  // A device given by name or number is looked up once the list can be had.
  if (!Options.Device.empty()) {
    std::string why;
    const int row = FindDevice(rows, Options.Device, why);
    if (row >= 0) {
      Index = row;
      Options.Device.clear();
    } else if (rows.size() > 1) {
      Notice(why + ": using the " + std::string(StandardInputName));
      Index = 0;
      Options.Device.clear();
    } else {
      if (!Missing) Notice("cannot list the input devices (no sound server answers): trying again every second");
      Missing = true;
      return false;
    }
  }

  Close();
  const bool opened = OpenInput(Engine, Index, [&](int32_t gone) {
    Notice(RowName(gone, rows) + " not found: using the " + std::string(StandardInputName));
  });
  if (opened) {
    Notice("recording from " + RowName(Index, rows));
    Missing = false;
    Quiet = false;
    Flowing = false;
    LastBlock = TClock::now();
    return true;
  }

  const TWaveResult result = Engine.OpenResult();
  Close();
  if (!WorthRetrying(result)) {
    Engine.ShowOpenFailure();
    Err = "cannot record from " + RowName(Index, rows) + ": " + Reason(result);
    return false;
  }
  if (!Missing)
    Notice("cannot record from " + RowName(Index, rows) + " (" + Reason(result) + "): trying again every second");
  Missing = true;
  return false;
}

void TLiveSource::Close()
{
  Engine.CloseCapture();
  // The close handed back every queued block: all messages left are stale.
  std::lock_guard lock(Mutex);
  QueueHead = QueueCount = 0;
}

bool TLiveSource::ReadBlock(TBlock& block)
{
  return Guarded([this, &block] { return Read(block); });
}

bool TLiveSource::Read(TBlock& block)
{
  for (;;) {
    if (!Err.empty()) return false;
    if (!Draining && StopRequested()) {
      Draining = true;
      Remaining = Pending();
    }
    if (Draining && Remaining == 0) {
      Close();
      return false;
    }
    if (!Draining && !Engine.IsRecording() && TClock::now() >= NextTry && !Open() && !Err.empty()) return false;

    uint64_t generation = 0, overflow = 0;
    const bool got = Wait(generation, overflow, Draining ? TClock::duration::zero() : WaitSlice);
    if (overflow > 0) {
      // Cannot happen while every message takes its block; if it does, the
      // ring is out of step and starts afresh.
      MessagesLost += overflow;
      Notice(std::to_string(overflow) + " block messages lost: recording starts again");
      Close();
      if (Draining) Remaining = 0;
      continue;
    }
    if (!got) {
      const auto now = TClock::now();
      // A fresh source may take a few seconds to deliver its first sound.
      const auto limit =
          std::chrono::milliseconds(Flowing ? Options.QuietMs : std::max(Options.QuietMs, FirstBlockMs));
      if (Engine.IsRecording() && !Quiet && now - LastBlock >= limit) {
        Notice("no sound from the input for " + Seconds(now - LastBlock) +
               ": the sound server may be gone; waiting for it");
        Quiet = true;
      }
      continue;
    }
    if (Draining) --Remaining;
    if (!Engine.IsCurrent(generation)) continue;

    const std::span<const int16_t, BlockSamples> samples = Engine.TakeBlock();
    std::copy(samples.begin(), samples.end(), block.begin());
    const auto now = TClock::now();
    if (Quiet) {
      Notice("sound from the input again after " + Seconds(now - LastBlock));
      Quiet = false;
    }
    LastBlock = now;
    Flowing = true;
    if (const int lost = Engine.BlocksLostBeforeLastBlock(); lost > 0) {
      if (Options.OnGap)
        Options.OnGap(lost);
      else
        Notice("sound lost: " + std::to_string(lost) + " blocks (" + std::to_string(lost / 10) + "." +
               std::to_string(lost % 10) + " s)");
    }
    return true;
  }
}

}  // namespace brontel
