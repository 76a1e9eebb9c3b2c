// The displays allocate nothing per block. This file replaces the global operator new of the
// test program to count allocations.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "core/receiver.h"
#include "display/displays.h"
#include "fake_text.h"
#include "fsk_signal.h"

namespace {
std::atomic<long> Allocations{0};
}

// These replacements pair malloc with free; GCC cannot see that through the
// replaced operator new and warns about a mismatch at every inlined delete.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n)
{
  ++Allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace brontel {
namespace {

TEST(DisplayAllocations, NoneAfterConstruction)
{
  auto rx = std::make_unique<TReceiver>();
  rx->CentF = 800.0;
  test::TRecordingText text;
  text.Calls.reserve(1000);
  const long atStart = Allocations.load();
  uint64_t seen = 0;
  TDisplayViews views;
  views.Image1 = [&seen](const TRaster& r) { seen += r.Bits()[0]; };
  views.Image2 = [&seen](const TRaster& r) { seen += r.Bits()[0]; };
  TDisplays d(*rx, &text, std::move(views));
  EXPECT_GT(Allocations.load(), atStart);  // the rasters: the counter works
  test::TFskSource source;
  std::array<int16_t, BlockSamples> block;
  for (int b = 0; b < 30; ++b) {
    source.Next(block);
    ProcessBlock(*rx, block);  // fills the receiver's per-block results
    text.Calls.clear();
    const long before = Allocations.load();
    d.DrawEyePattern(0, true, 0, rx->Channels[0].BitCount);
    d.AnalyseSpectrum();
    d.DrawSpectrum();
    if (b == 10 || b == 20) {
      d.Image1Click();
      d.Image2Click();
    }
    if (b == 12 || b == 22) {
      d.Image1Click();
      d.Image2Click();
    }
    ASSERT_EQ(Allocations.load(), before) << "block " << b;
  }
  EXPECT_GT(d.SpectrumFrames(), 1u);
}

}  // namespace
}  // namespace brontel
