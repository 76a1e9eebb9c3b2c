#include "dsp/impulse_blanker.h"

#include <algorithm>

namespace brontel {

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
    std::nth_element(block_.begin(), block_.begin() + BlockSamples / 2, block_.end());
    medians_[blocks_ % 3] = block_[BlockSamples / 2];
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
