// Received text: the line under construction, the one-line edit and the
// bounded memo. All text is code page 932 (Shift_JIS) bytes; limits count bytes.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brontel {

inline constexpr std::size_t MemoLimit = 63998;  // bytes of finished lines kept
inline constexpr std::size_t EditLimit = 48;     // bytes of the current line shown
inline constexpr std::size_t LineLimit = MemoLimit;  // bytes a line may grow to before it is written

// The marks written in place of a character that could not be read.
inline constexpr std::string_view EnglishErasure = "*";
inline constexpr std::string_view JapaneseErasure = "\x81\xAC";  // 〓, the geta mark

// What the window (or any other front end) shows of the received text. The
// decoder calls these in the order the updates happen; every method may be
// left as a no-op.
class TTextSink {
public:
  virtual ~TTextSink() = default;
  // A finished line (without its line end) has just been added to MemoText.
  // `confidence` holds, for each of its characters in order (a two-byte
  // character counts once), the probability that the decoder printed it
  // right; it is empty when the decoder cannot tell (the exact path).
  virtual void LineWritten(std::string_view line, std::span<const float> confidence)
  {
    (void)line;
    (void)confidence;
  }
  // The memo's whole content is replaced by memoText, added as lines.
  virtual void MemoReplaced(std::string_view memoText) { (void)memoText; }
  // The one-line edit's text is set.
  virtual void EditChanged(std::string_view text) { (void)text; }
};

struct TTextStore {
  std::string MemoText;  // every retained finished line, each followed by "\r\n"
  std::string EditText;  // the tail of the current line shown in the one-line edit
  TTextSink* Sink = nullptr;
};

// Adds a finished line to MemoText (followed by "\r\n"), drops bytes from the
// front two at a time while it exceeds MemoLimit, and replaces the memo's
// content. `confidence`: per character, see TTextSink::LineWritten.
void AppendMemoLine(TTextStore& text, std::string_view line, std::span<const float> confidence = {});

// Shows the end of the current line: EditText keeps the last 47 or 48 bytes
// (dropped from the front two at a time, keeping two-byte characters whole).
void ShowEditLine(TTextStore& text, std::string_view line);

// Text was added to `line`: its end is shown in the edit, or, once it has
// reached LineLimit bytes, it is written as a finished line (a stream that
// never ends a line must not grow without bound).
void LineGrew(TTextStore& text, std::string& line);

// Writes `line` to the memo if it holds text, then empties it and the edit.
void FlushLine(TTextStore& text, std::string& line);

// Discards `line` and empties the edit.
void ClearLine(TTextStore& text, std::string& line);

// LineGrew and FlushLine for a decoder that knows how sure it is of every
// character: `confidence` holds one value per character of `line` and is
// written and emptied with it.
void LineGrew(TTextStore& text, std::string& line, std::vector<float>& confidence);
void FlushLine(TTextStore& text, std::string& line, std::vector<float>& confidence);

}  // namespace brontel
