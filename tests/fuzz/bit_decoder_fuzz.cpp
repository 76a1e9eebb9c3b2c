// Bits from the fuzzer into the character decoder of channel 0, in pieces of
// the sizes the bit timing hands over. Whatever the bits, the decoder must
// not crash, its text stores stay within their limits, a line holds no line
// end and every byte of text is one the code table or the Japanese pairing
// can produce.
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/receiver.h"
#include "decoder/character_sync.h"
#include "decoder/code_table.h"
#include "fuzz_check.h"

namespace {

using namespace brontel;



// Every byte a decoded text can hold, and the longest text one character adds.
struct TTextBytes {
  std::bitset<256> Allowed;
  std::size_t LongestEntry = 2;
  TTextBytes()
  {
    for (const auto& row : CodeTable())
      for (std::string_view entry : row) {
        for (unsigned char c : entry) Allowed.set(c);
        if (entry.size() > LongestEntry) LongestEntry = entry.size();
      }
    for (int j1 = 0; j1 < 128; ++j1)
      for (int j2 = 0; j2 < 128; ++j2) {
        const auto sj = JisToShiftJis(static_cast<uint8_t>(j1), static_cast<uint8_t>(j2));
        Allowed.set(sj[0]), Allowed.set(sj[1]);
      }
  }
};

const TTextBytes& TextBytes()
{
  static const TTextBytes t;
  return t;
}

void CheckText(std::string_view text)
{
  for (unsigned char c : text) FUZZ_CHECK(TextBytes().Allowed.test(c));
}

class TCheckingSink final : public TTextSink {
public:
  void LineWritten(std::string_view line, std::span<const float>) override
  {
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    CheckText(line);
  }
  void MemoReplaced(std::string_view memo) override
  {
    FUZZ_CHECK(memo.size() <= MemoLimit);
    FUZZ_CHECK(memo.empty() || memo.ends_with("\r\n"));
  }
  void EditChanged(std::string_view text) override
  {
    FUZZ_CHECK(text.size() <= EditLimit);
    CheckText(text);
  }
};

}  // namespace

// The first byte picks the piece size (1 to 32 bits); every further byte gives
// eight bits, most significant first.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
  if (size < 1) return 0;
  auto rx = std::make_unique<TReceiver>();
  TCheckingSink sink;
  rx->Text.Sink = &sink;
  TChannelState& s = rx->Channels[0];
  const int piece = 1 + data[0] % 32;
  std::size_t bitsFed = 0;
  std::size_t bit = 0;
  const std::size_t totalBits = (size - 1) * 8;
  while (bit < totalBits) {
    int n = 0;
    for (; n < piece && bit < totalBits; ++n, ++bit)
      s.BitBuf[static_cast<std::size_t>(n)] = (data[1 + bit / 8] >> (7 - bit % 8)) & 1;
    s.BitCount = n;
    DecodeBits(s, s.Bits(), rx->Text);
    bitsFed += static_cast<std::size_t>(n);
    // A character takes seven bits at least and adds one table entry or half
    // a Japanese pair.
    FUZZ_CHECK(s.LineText.size() <= TextBytes().LongestEntry * (bitsFed / 7 + 1));
    FUZZ_CHECK(s.LineText.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(rx->Text.MemoText.size() <= MemoLimit);
    FUZZ_CHECK(rx->Text.EditText.size() <= EditLimit);
  }
  CheckText(s.LineText);
  rx->Text.Sink = nullptr;
  return 0;
}
