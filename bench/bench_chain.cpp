// Speed of the receiver chain: each stage alone and the whole per-block driver,
// with a real-time factor (0.1 s of audio per block).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "core/receiver.h"
#include "core/robust_path.h"
#include "decoder/character_sync.h"
#include "dsp/bandpass.h"
#include "dsp/bit_timing.h"
#include "dsp/decimate.h"
#include "dsp/discriminator.h"
#include "dsp/mixer.h"
#include "dsp/robust_demod.h"
#include "bench_signal.h"

namespace {

using namespace brontel;

const std::vector<bench::TBlockPcm>& Blocks() { return bench::NavtexBlocks(); }

std::unique_ptr<TReceiver> NewReceiver()
{
  auto rx = std::make_unique<TReceiver>();
  InitFrontEndConstants(*rx);
  rx->CentF = 800.0;
  return rx;
}

void RealTime(benchmark::State& state)
{
  state.counters["x_realtime"] =
      benchmark::Counter(0.1 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * FramesPerBlock);
}

// Fills WorkBuf with a block's raw samples.
void Fill(TReceiver& rx, std::size_t b)
{
  const auto& blk = Blocks()[b % Blocks().size()];
  for (int j = 0; j < FramesPerBlock; ++j) rx.Channels[0].WorkBuf[j] = blk[2 * j];
}

void BM_Decimate(benchmark::State& state)
{
  auto rx = NewReceiver();
  std::size_t b = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(*rx, b++);
    state.ResumeTiming();
    Decimate(*rx, 0);
    benchmark::DoNotOptimize(rx->Channels[0].WorkBuf.data());
  }
  RealTime(state);
}

// Per-block stages after decimation run on a block that has been through the
// earlier stages once, repeatedly (the histories keep moving).
void BM_Mix(benchmark::State& state)
{
  auto rx = NewReceiver();
  for (auto _ : state) {
    for (int m = 0; m < BlockLen; ++m) MixSample(*rx, 0, m);
    benchmark::DoNotOptimize(rx->MixedBuf.data());
  }
  RealTime(state);
}

void BM_BandPass(benchmark::State& state)
{
  auto rx = NewReceiver();
  Fill(*rx, 40);
  for (auto _ : state) {
    BandPassBlock(*rx, 0);
    benchmark::DoNotOptimize(rx->Channels[0].WorkBuf.data());
  }
  RealTime(state);
}

void BM_Discriminate(benchmark::State& state)
{
  auto rx = NewReceiver();
  Fill(*rx, 40);
  Decimate(*rx, 0);
  for (int m = 0; m < BlockLen; ++m) MixSample(*rx, 0, m);
  BandPassBlock(*rx, 0);
  std::array<double, BlockLen> input;
  std::copy_n(rx->Channels[0].WorkBuf.begin(), BlockLen, input.begin());
  for (auto _ : state) {
    std::copy(input.begin(), input.end(), rx->Channels[0].WorkBuf.begin());
    DiscriminateBlock(*rx, 0);
    benchmark::DoNotOptimize(rx->Channels[0].DiscBuf.data());
  }
  RealTime(state);
}

void BM_TimeSamples(benchmark::State& state)
{
  auto rx = NewReceiver();
  std::mt19937 rng(1);
  for (double& d : rx->Channels[0].DiscBuf) d = static_cast<int>(rng() % 6000) - 3000;
  for (auto _ : state) {
    rx->Channels[0].BitCount = 0;
    for (int m = 0; m < BlockLen; ++m) TimeSample(*rx, 0, m);
    benchmark::DoNotOptimize(rx->Channels[0].BitBuf.data());
  }
  RealTime(state);
}

void BM_ProcessBlock(benchmark::State& state)
{
  auto rx = NewReceiver();
  std::size_t b = 0;
  for (auto _ : state) {
    ProcessBlock(*rx, Blocks()[b++ % Blocks().size()]);
    benchmark::DoNotOptimize(rx->Channels[0].BitBuf.data());
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

// The robust path (demodulator and robust decoder) on the same blocks' left channel.
void BM_RobustPathBlock(benchmark::State& state)
{
  std::vector<std::array<double, FramesPerBlock>> left(Blocks().size());
  for (std::size_t b = 0; b < left.size(); ++b)
    for (int j = 0; j < FramesPerBlock; ++j) left[b][j] = Blocks()[b][2 * j];
  TRobustPath path(800.0);
  TTextStore text;
  std::size_t b = 0;
  for (auto _ : state) {
    path.Process(left[b++ % left.size()], text);
    benchmark::DoNotOptimize(text.MemoText.data());
  }
  RealTime(state);
}

// One hour of generated NAVTEX (a repeated emission) through the chain and the decoder.
void BM_DecodeOneHour(benchmark::State& state)
{
  constexpr std::size_t HourBlocks = 36000;
  for (auto _ : state) {
    auto rx = NewReceiver();
    for (std::size_t b = 0; b < HourBlocks; ++b) ProcessBlock(*rx, Blocks()[b % Blocks().size()]);
    benchmark::DoNotOptimize(rx->Text.MemoText.data());
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
BENCHMARK(BM_RobustPathBlock);
BENCHMARK(BM_DecodeOneHour)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
