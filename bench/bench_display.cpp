// Speed of the displays: the spectrum analyser, the spectrum and waterfall,
// the eye pattern (with and without rendered labels) and all of them per
// block, on the per-block data of a generated NAVTEX emission with noise.
// Budget: 0.5 ms per block for analyser + spectrum + eye + labels.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "display/displays.h"
#include "session/receiver_session.h"
#include "bench_signal.h"
#ifdef BRONTEL_HAVE_QT_TEXT
#include "display/qt/qt_text_renderer.h"
#endif

namespace {

using namespace brontel;

const std::vector<bench::TBlockPcm>& Blocks() { return bench::NavtexBlocks(); }

// What the displays read of each block, recorded from a receiver run.
struct TBlockData {
  std::array<double, BlockLen> Mixed, Disc;
  std::array<uint8_t, BlockLen> Flags;
  int32_t BitCount;
  bool EngMode, Inverted;
};

const std::vector<TBlockData>& Recorded()
{
  static const auto data = [] {
    TReceiverSession session;
    std::vector<TBlockData> out;
    for (const auto& b : Blocks()) {
      session.ProcessBlock(b);
      const TChannelState& s = session.Channel();
      out.push_back({session.Receiver().MixedBuf, s.DiscBuf, s.SampleFlags, s.BitCount, s.EngMode, s.Inverted});
    }
    return out;
  }();
  return data;
}

// A receiver whose per-block results are those of recorded block `b`.
void Load(TReceiver& rx, std::size_t b)
{
  const TBlockData& d = Recorded()[b % Recorded().size()];
  rx.MixedBuf = d.Mixed;
  TChannelState& s = rx.Channels[0];
  s.DiscBuf = d.Disc;
  s.SampleFlags = d.Flags;
  s.BitCount = d.BitCount;
  s.EngMode = d.EngMode;
  s.Inverted = d.Inverted;
}

void RealTime(benchmark::State& state)
{
  state.counters["x_realtime"] =
      benchmark::Counter(0.1 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));  // blocks
}

TSessionOptions WithDisplays(TTextRenderer* text = nullptr)
{
  TSessionOptions o;
  o.Displays = true;
  o.Labels = text;
  return o;
}

struct TBench {
  explicit TBench(TTextRenderer* text = nullptr)
      : Session(WithDisplays(text)), Rx(&Session.Receiver()), Displays(Session.Displays())
  {
    for (std::size_t b = 0; b < 20; ++b) Next();  // fill the histories
  }
  void Next()
  {
    Load(*Rx, B++);
    Displays->DrawEyePattern(0, true, 0, Rx->Channels[0].BitCount);
    Displays->AnalyseSpectrum();
    Displays->DrawSpectrum();
  }
  TReceiverSession Session;
  TReceiver* Rx;
  TDisplays* Displays;
  std::size_t B = 0;
};

void BM_AnalyseSpectrum(benchmark::State& state)
{
  TBench t;
  for (auto _ : state) {
    Load(*t.Rx, t.B++);
    t.Displays->AnalyseSpectrum();
    benchmark::DoNotOptimize(t.Displays->Analyser().SpecLevel.data());
  }
  RealTime(state);
}
BENCHMARK(BM_AnalyseSpectrum);

void BM_DrawSpectrum(benchmark::State& state)
{
  TBench t;
  for (auto _ : state) {
    t.Displays->DrawSpectrum();
    benchmark::DoNotOptimize(t.Displays->SpectrumBitmap().Bits());
  }
  RealTime(state);
}
BENCHMARK(BM_DrawSpectrum);

void BM_DrawEyePattern(benchmark::State& state)
{
  TBench t;
  for (auto _ : state) {
    Load(*t.Rx, t.B++);
    t.Displays->DrawEyePattern(0, true, 0, t.Rx->Channels[0].BitCount);
    benchmark::DoNotOptimize(t.Displays->EyeBitmap().Bits());
  }
  RealTime(state);
}
BENCHMARK(BM_DrawEyePattern);

// Everything the driver asks of the displays for one block, labels not rendered.
void BM_DisplaysPerBlock(benchmark::State& state)
{
  TBench t;
  for (auto _ : state) {
    t.Next();
    benchmark::DoNotOptimize(t.Displays->EyeBitmap().Bits());
  }
  RealTime(state);
}
BENCHMARK(BM_DisplaysPerBlock);

#ifdef BRONTEL_HAVE_QT_TEXT
TQtTextRenderer& QtText()
{
  EnsureGuiApplication();
  static TQtTextRenderer text;
  return text;
}

void BM_DrawEyePatternWithLabels(benchmark::State& state)
{
  TBench t(&QtText());
  for (auto _ : state) {
    Load(*t.Rx, t.B++);
    t.Displays->DrawEyePattern(0, true, 0, t.Rx->Channels[0].BitCount);
    benchmark::DoNotOptimize(t.Displays->EyeBitmap().Bits());
  }
  RealTime(state);
}
BENCHMARK(BM_DrawEyePatternWithLabels);

// The budget: analyser + spectrum + eye + labels for one block.
void BM_DisplaysPerBlockWithLabels(benchmark::State& state)
{
  TBench t(&QtText());
  for (auto _ : state) {
    t.Next();
    benchmark::DoNotOptimize(t.Displays->EyeBitmap().Bits());
  }
  RealTime(state);
}
BENCHMARK(BM_DisplaysPerBlockWithLabels);
#endif

// The whole per-block driver with the displays attached (no labels), against
// bench_chain's BM_ProcessBlock without them.
void BM_ProcessBlockWithDisplays(benchmark::State& state)
{
  TReceiverSession session(WithDisplays());
  std::size_t b = 0;
  for (auto _ : state) {
    session.ProcessBlock(Blocks()[b++ % Blocks().size()]);
    benchmark::DoNotOptimize(session.Displays()->EyeBitmap().Bits());
  }
  RealTime(state);
}
BENCHMARK(BM_ProcessBlockWithDisplays);

// The session as the window runs it: both paths, the displays and (with Qt)
// their labels, per block.
void BM_ProcessBlockAsTheWindow(benchmark::State& state)
{
  TTextRenderer* labels = nullptr;
#ifdef BRONTEL_HAVE_QT_TEXT
  labels = &QtText();
#endif
  TSessionOptions options = WithDisplays(labels);
  options.RobustBeside = true;
  TReceiverSession session(options);
  std::size_t b = 0;
  for (auto _ : state) {
    session.ProcessBlock(Blocks()[b++ % Blocks().size()]);
    benchmark::DoNotOptimize(session.Displays()->EyeBitmap().Bits());
  }
  RealTime(state);
}
BENCHMARK(BM_ProcessBlockAsTheWindow);

}  // namespace

BENCHMARK_MAIN();
