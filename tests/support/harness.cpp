#include "support/harness.h"

#include <algorithm>

#include "decoder/character_sync.h"

namespace brontel::test {

namespace {

TSessionOptions Options(double centF, TTextSink* sink)
{
  TSessionOptions o;
  o.CentF = centF;
  o.Sink = sink;
  return o;
}

}  // namespace

THarness::THarness(double centF) : Session(Options(centF, &Sink)), Rx(&Session.Receiver()) {}

void THarness::FeedPcm(const std::vector<int16_t>& left, const std::vector<int16_t>* right)
{
  std::array<int16_t, BlockSamples> block;
  for (std::size_t start = 0; start < left.size(); start += FramesPerBlock) {
    block.fill(0);
    const std::size_t n = std::min<std::size_t>(FramesPerBlock, left.size() - start);
    for (std::size_t j = 0; j < n; ++j) {
      block[2 * j] = left[start + j];
      if (right && start + j < right->size()) block[2 * j + 1] = (*right)[start + j];
    }
    Session.ProcessBlock(block);
    const TChannelState& s = Rx->Channels[0];
    AllBits.insert(AllBits.end(), s.BitBuf.begin(), s.BitBuf.begin() + s.BitCount);
    BitsPerBlock.push_back(s.BitCount);
  }
}

void THarness::FeedBits(const std::vector<uint8_t>& bits)
{
  TChannelState& s = Rx->Channels[0];
  for (std::size_t start = 0; start < bits.size(); start += 10) {
    const std::size_t n = std::min<std::size_t>(10, bits.size() - start);
    std::copy_n(bits.begin() + start, n, s.BitBuf.begin());
    s.BitCount = static_cast<int32_t>(n);
    DecodeBits(s, s.Bits(), Rx->Text);
  }
}

std::string THarness::Text() const
{
  std::string out;
  for (const std::string& l : Sink.Lines) out += l + "\n";
  out += Rx->Channels[0].LineText;
  return out;
}

std::string BitString(const std::vector<uint8_t>& bits)
{
  std::string s(bits.size(), '0');
  for (std::size_t i = 0; i < bits.size(); ++i) s[i] = static_cast<char>('0' + bits[i]);
  return s;
}

}  // namespace brontel::test
