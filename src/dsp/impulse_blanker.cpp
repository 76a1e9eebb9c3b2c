#include "dsp/impulse_blanker.h"

#include <algorithm>

namespace brontel {

double TakeKthSmallest(std::span<double> values, std::size_t k)
{
  double* a = values.data();
  std::size_t lo = 0, hi = values.size() - 1;  // k lies within [lo, hi]
  while (lo < hi) {
    // The median of the first, middle and last as the pivot, at hi.
    const std::size_t mid = lo + (hi - lo) / 2;
    if (a[mid] < a[lo]) std::swap(a[mid], a[lo]);
    if (a[hi] < a[lo]) std::swap(a[hi], a[lo]);
    if (a[mid] < a[hi]) std::swap(a[mid], a[hi]);
    const double pivot = a[hi];
    // Those below the pivot to the front: each value is swapped with the
    // first not below, which advances only past a value below.
    std::size_t below = lo;
    for (std::size_t i = lo; i < hi; ++i) {
      const double x = a[i];
      a[i] = a[below];
      a[below] = x;
      below += x < pivot;
    }
    a[hi] = a[below];
    a[below] = pivot;
    if (k < below) {
      hi = below - 1;
      continue;
    }
    // Those equal to the pivot next to it (a block of equal values, as in
    // silence, is done in one pass).
    std::size_t upTo = below + 1;
    for (std::size_t i = below + 1; i <= hi; ++i) {
      const double x = a[i];
      a[i] = a[upTo];
      a[upTo] = x;
      upTo += !(pivot < x);
    }
    if (k < upTo) return pivot;
    lo = upTo;
  }
  return a[k];
}

void TImpulseBlanker::Reset()
{
  prev_ = {};
  prevFlag_ = lastBlanked_ = false;
  block_.fill(0.0);
  medians_.fill(0.0);
  fill_ = blocks_ = run_ = hang_ = newLevelBlocks_ = below_ = lastPos_ = 0;
  last_.fill(0.0);
  reference_ = 0.0;
  blanked_ = 0;
}

std::complex<double> TImpulseBlanker::Step(std::complex<double> in)
{
  const double q = std::norm(in);
  bool impulse = false;
  // A run starts only with an abrupt jump (a crash's onset); a fade that
  // lifts the signal over a few tens of milliseconds starts none.
  const double recent = (last_[0] + last_[1] + last_[2] + last_[3]) / 4.0;
  last_[lastPos_] = q;
  lastPos_ = (lastPos_ + 1) % 4;
  const bool above = q > Threshold * reference_ && q > 0.0;
  if (blocks_ > 0 && newLevelBlocks_ == 0 && above && (run_ > 0 || q > OnsetJump * recent)) {
    impulse = true;
    if (++run_ > LongestRun) {
      // Too long for a crash: a new level, let through until the reference
      // has it (the block under way and the next).
      impulse = false;
      newLevelBlocks_ = 2;
      run_ = hang_ = 0;
    }
    below_ = 0;
  } else {
    // A few quiet samples within a run (the noise of a new, stronger
    // level) do not end it.
    if (++below_ > RunGap) run_ = 0;
    if (hang_ > 0) --hang_;
  }
  const bool flag = impulse || hang_ > 0;
  if (impulse) hang_ = HangSamples;

  block_[fill_] = q;
  if (++fill_ == BlockSamples) {
    fill_ = 0;
    medians_[blocks_ % 3] = TakeKthSmallest(block_, BlockSamples / 2);
    if (newLevelBlocks_ > 0) --newLevelBlocks_;
    ++blocks_;
    reference_ = *std::max_element(medians_.begin(), medians_.begin() + std::min(blocks_, 3));
    if (blocks_ == 3000) blocks_ = 3;  // only "at least three" matters
  }

  const std::complex<double> out = prev_;
  lastBlanked_ = prevFlag_ || impulse;
  blanked_ += lastBlanked_;
  prev_ = in;
  prevFlag_ = flag;
  return lastBlanked_ ? std::complex<double>{} : out;
}

}  // namespace brontel
