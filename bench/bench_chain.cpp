// Speed of the receiver chain: each stage alone and the whole per-block driver,
// with a real-time factor (0.1 s of audio per block).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "core/robust_path.h"
#include "dsp/bandpass.h"
#include "dsp/bit_timing.h"
#include "dsp/decimate.h"
#include "dsp/discriminator.h"
#include "dsp/mixer.h"
#include "dsp/robust_demod.h"
#include "session/receiver_session.h"
#include "bench_signal.h"

namespace {

using namespace brontel;

const std::vector<bench::TBlockPcm>& Blocks() { return bench::NavtexBlocks(); }

std::unique_ptr<TReceiverSession> NewSession() { return std::make_unique<TReceiverSession>(); }

void RealTime(benchmark::State& state)
{
  state.counters["x_realtime"] =
      benchmark::Counter(0.1 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * FramesPerBlock);
}

// A block's raw left-channel samples.
std::array<double, FramesPerBlock> Raw(std::size_t b)
{
  const auto& blk = Blocks()[b % Blocks().size()];
  std::array<double, FramesPerBlock> raw;
  for (int j = 0; j < FramesPerBlock; ++j) raw[j] = blk[2 * j];
  return raw;
}

void BM_Decimate(benchmark::State& state)
{
  TDecimator decim;
  std::array<double, BlockLen> out;
  std::size_t b = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const auto raw = Raw(b++);
    state.ResumeTiming();
    Decimate(decim, raw, out);
    benchmark::DoNotOptimize(out.data());
  }
  RealTime(state);
}

// Per-block stages after decimation run on one block of real input,
// repeatedly (the histories keep moving).
std::array<double, BlockLen> Decimated(std::size_t b)
{
  TDecimator decim;
  std::array<double, BlockLen> out;
  Decimate(decim, Raw(b), out);
  return out;
}

void BM_Mix(benchmark::State& state)
{
  TMixer mix;
  const auto in = Decimated(40);
  std::array<double, BlockLen> out;
  for (auto _ : state) {
    MixBlock(mix, 800.0, in, out);
    benchmark::DoNotOptimize(out.data());
  }
  RealTime(state);
}

void BM_BandPass(benchmark::State& state)
{
  TBandPass band;
  const auto in = Decimated(40);
  std::array<double, BlockLen> out;
  for (auto _ : state) {
    BandPassBlock(band, in, out);
    benchmark::DoNotOptimize(out.data());
  }
  RealTime(state);
}

void BM_Discriminate(benchmark::State& state)
{
  TMixer mix;
  TBandPass band;
  TDiscriminator disc;
  std::array<double, BlockLen> mixed, in, phase, out;
  MixBlock(mix, 800.0, Decimated(40), mixed);
  BandPassBlock(band, mixed, in);
  for (auto _ : state) {
    DiscriminateBlock(disc, in, phase, out);
    benchmark::DoNotOptimize(out.data());
  }
  RealTime(state);
}

void BM_TimeSamples(benchmark::State& state)
{
  TBitClock clock;
  TBitBlock bits;
  std::array<double, BlockLen> disc, clockBuf;
  std::array<uint8_t, BlockLen> flags;
  std::mt19937 rng(1);
  for (double& d : disc) d = static_cast<int>(rng() % 6000) - 3000;
  for (auto _ : state) {
    TimeBlock(clock, disc, clockBuf, flags, bits);
    benchmark::DoNotOptimize(bits.BitBuf.data());
  }
  RealTime(state);
}

void BM_ProcessBlock(benchmark::State& state)
{
  auto session = NewSession();
  std::size_t b = 0;
  for (auto _ : state) {
    session->ProcessBlock(Blocks()[b++ % Blocks().size()]);
    benchmark::DoNotOptimize(session->Channel().BitBuf.data());
  }
  RealTime(state);
}

// The robust demodulator on the same blocks (left channel as doubles).
void BM_RobustDemodBlock(benchmark::State& state)
{
  std::vector<std::array<double, FramesPerBlock>> blocks(Blocks().size());
  for (std::size_t b = 0; b < blocks.size(); ++b)
    for (int j = 0; j < FramesPerBlock; ++j) blocks[b][j] = Blocks()[b][2 * j];
  TRobustDemod demod(800.0);
  std::array<double, TRobustDemod::MaxBitsFor(FramesPerBlock)> soft;
  std::size_t b = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(demod.Process(blocks[b++ % blocks.size()], soft));
    benchmark::DoNotOptimize(soft.data());
  }
  RealTime(state);
}

// The robust path (demodulator and robust decoder) on the same blocks' left
// channel; argument 1: with whole-character detection switched on.
void BM_RobustPathBlock(benchmark::State& state)
{
  std::vector<std::array<double, FramesPerBlock>> left(Blocks().size());
  for (std::size_t b = 0; b < left.size(); ++b)
    for (int j = 0; j < FramesPerBlock; ++j) left[b][j] = Blocks()[b][2 * j];
  TRobustDecoderParams params;
  params.WholeCharacters = static_cast<int>(state.range(0));
  TRobustPath path(800.0, params);
  TTextStore text;
  std::size_t b = 0;
  for (auto _ : state) {
    path.Process(left[b++ % left.size()], text);
    benchmark::DoNotOptimize(text.MemoText.data());
  }
  RealTime(state);
}

// The whole per-block driver with both paths running, as the window runs it.
void BM_ProcessBlockBothPaths(benchmark::State& state)
{
  TSessionOptions options;
  options.RobustBeside = true;
  TReceiverSession session(options);
  std::size_t b = 0;
  for (auto _ : state) {
    session.ProcessBlock(Blocks()[b++ % Blocks().size()]);
    benchmark::DoNotOptimize(session.Receiver().RobustText.MemoText.data());
  }
  RealTime(state);
}

// One hour of generated NAVTEX (a repeated emission) through the chain and the decoder.
void BM_DecodeOneHour(benchmark::State& state)
{
  constexpr std::size_t HourBlocks = 36000;
  for (auto _ : state) {
    auto session = NewSession();
    for (std::size_t b = 0; b < HourBlocks; ++b) session->ProcessBlock(Blocks()[b % Blocks().size()]);
    benchmark::DoNotOptimize(session->Receiver().Text.MemoText.data());
  }
  state.counters["x_realtime"] =
      benchmark::Counter(3600.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Decimate);
BENCHMARK(BM_Mix);
BENCHMARK(BM_BandPass);
BENCHMARK(BM_Discriminate);
BENCHMARK(BM_TimeSamples);
BENCHMARK(BM_ProcessBlock);
BENCHMARK(BM_RobustDemodBlock);
BENCHMARK(BM_RobustPathBlock)->Arg(0)->Arg(1);
BENCHMARK(BM_ProcessBlockBothPaths);
BENCHMARK(BM_DecodeOneHour)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
