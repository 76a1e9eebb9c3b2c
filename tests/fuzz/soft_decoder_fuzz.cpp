// Soft values from the fuzzer into the robust character decoder, in pieces of
// varying size. Whatever the values (infinities and NaN included), the
// decoder must not crash, its text stores stay within their limits, a line
// holds no line end, every byte of text is one the code table, the Japanese
// pairing or an erasure mark can produce, and every character comes with one
// confidence between 0 and 1.
#include <bitset>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/code_table.h"
#include "decoder/robust_decoder.h"
#include "fuzz_check.h"

namespace {

using namespace brontel;

struct TTextBytes {
  std::bitset<256> Allowed;
  TTextBytes()
  {
    for (const auto& row : CodeTable())
      for (std::string_view entry : row)
        for (unsigned char c : entry) Allowed.set(c);
    for (int j1 = 0; j1 < 128; ++j1)
      for (int j2 = 0; j2 < 128; ++j2) {
        const auto sj = JisToShiftJis(static_cast<uint8_t>(j1), static_cast<uint8_t>(j2));
        Allowed.set(sj[0]), Allowed.set(sj[1]);
      }
    for (std::string_view mark : {EnglishErasure, JapaneseErasure})
      for (unsigned char c : mark) Allowed.set(c);
  }
};

void CheckText(std::string_view text)
{
  static const TTextBytes bytes;
  for (unsigned char c : text) FUZZ_CHECK(bytes.Allowed.test(c));
}

// A line is all English (one byte a character) or all Japanese (two).
void CheckConfidence(std::string_view line, std::span<const float> confidence)
{
  const bool japanese = !line.empty() && static_cast<unsigned char>(line[0]) >= 0x80;
  FUZZ_CHECK(confidence.size() == (japanese ? line.size() / 2 : line.size()));
  for (float p : confidence) FUZZ_CHECK(p >= 0.0f && p <= 1.0f);
}

class TCheckingSink final : public TTextSink {
public:
  void LineWritten(std::string_view line, std::span<const float> confidence) override
  {
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    CheckText(line);
    CheckConfidence(line, confidence);
  }
  void MemoReplaced(std::string_view memo) override { FUZZ_CHECK(memo.size() <= MemoLimit); }
  void EditChanged(std::string_view text) override
  {
    FUZZ_CHECK(text.size() <= EditLimit);
    CheckText(text);
  }
};

double Soft(uint8_t b)
{
  switch (b) {
    case 0x7F: return std::numeric_limits<double>::infinity();
    case 0x80: return std::numeric_limits<double>::quiet_NaN();
    case 0x81: return -std::numeric_limits<double>::infinity();
    default: return static_cast<int8_t>(b) / 8.0;  // about ±16
  }
}

}  // namespace

// The first byte picks the piece size (1 to 64 values); every further byte is
// one soft value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
  if (size < 1) return 0;
  TRobustDecoder decoder;
  TTextStore text;
  TCheckingSink sink;
  text.Sink = &sink;
  const std::size_t piece = 1 + data[0] % 64;
  std::vector<double> soft;
  for (std::size_t i = 1; i < size; i += piece) {
    soft.clear();
    for (std::size_t j = i; j < size && j < i + piece; ++j) soft.push_back(Soft(data[j]));
    decoder.Process(soft, text);
    FUZZ_CHECK(decoder.LineText().find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(text.MemoText.size() <= MemoLimit);
    FUZZ_CHECK(text.EditText.size() <= EditLimit);
    // A character takes seven bits at least and writes at most five bytes.
    FUZZ_CHECK(decoder.LineText().size() <= 5 * ((i + piece) / 7 + 1));
  }
  decoder.Finish(text);
  CheckText(decoder.LineText());
  CheckConfidence(decoder.LineText(), decoder.LineConfidence());
  text.Sink = nullptr;
  return 0;
}
