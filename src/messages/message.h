// A received NAVTEX message: its identity B1B2B3B4, its text as received, how
// it was received and how good the copy is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brontel::msg {

enum class TService : uint8_t { English, Japanese };

// Where a stretch of text was lost while the decoder was out of
// synchronisation. Offset is the byte offset in the text; when Break is set
// the '\n' at Offset is the line end the decoder wrote when it lost
// synchronisation (not a received line feed).
struct TGap {
  std::size_t Offset = 0;
  int Lost = 0;        // characters estimated lost (time out of sync x character rate)
  bool Break = false;
  bool operator==(const TGap&) const = default;
};

struct TMessage {
  // Identity. Id is B1B2B3B4 as received, half-width ('*' for an erasure or a
  // missing character); empty for text received outside any message.
  std::string Id;
  bool HasHeader = false;  // false: a "no header" fragment
  bool HeaderOk = false;   // ZCZC, the space and B1-B4 all received and valid
  bool Trailer = false;    // ended by NNNN
  char Station = 0;        // B1 (0 when unknown)
  char Subject = 0;        // B2 (0 when unknown)
  int Serial = -1;         // B3B4, or -1 when not two digits

  TService Service = TService::English;
  std::string Decoder = "exact";  // which decoder path received it
  std::string Channel = "left";   // which input channel (left or right) it came in on
  // The receiver it came from (a store writes the host name for an empty
  // one, see HostName) and the frequency that receiver listened on in kHz
  // (when known).
  std::string Receiver;
  std::optional<double> Frequency;

  double Start = 0.0, End = 0.0;        // UTC, seconds since the epoch
  std::optional<double> Offset;         // seconds into the recording at Start (recordings only)

  std::string Text;           // code page 932, lines separated by '\n'
  std::vector<TGap> Gaps;     // stretches lost, in order of Offset
  // For every character of Text in order (line ends not counted, erasure
  // marks counted), the probability that it was received right; empty when
  // the decoder could not tell.
  std::vector<float> Confidence;

  // Quality, see Measure().
  int Chars = 0;       // characters received (line ends not counted)
  int Erasures = 0;    // erasure marks among them
  int Suspicious = 0;  // characters the service cannot send, or marked doubtful
  int Lost = 0;        // characters estimated lost in the gaps
  double Cer = 0.0;    // estimated character error rate, 0 to 1

  // Filled in by the store.
  bool Repeat = false;  // a repeat of a stored message
  int Copies = 1;       // copies merged into this one
  int64_t StoreId = 0;  // the stored message (0: not stored)

  // Inside the listener's selection of stations and subjects (set by the
  // receiver before the message is stored; a message once inside stays so).
  bool Selected = true;
  // The listener's marks on a stored message: opened in the message window,
  // and tagged to keep.
  bool Opened = false;
  bool Kept = false;
};

enum class TStatus : uint8_t { Complete, NoTrailer, HeaderErrors, NoHeader };
TStatus StatusOf(const TMessage& m);
std::string_view StatusName(TStatus s);  // "complete", "no_trailer", "header_errors", "no_header"
std::string_view ServiceName(TService s);  // "english", "japanese"

// The name a receiver goes by unless given another: this machine's host
// name ("localhost" when it has none).
std::string HostName();

// The subject indicator's meaning ("" for letters without an assigned subject).
std::string_view SubjectName(char b2);

// A received identity suppresses later copies of itself: header without
// errors and a serial other than 00.
bool CanSuppress(const TMessage& m);

// The estimated error rate below which a listener has had a readable copy.
inline constexpr double ReadableCer = 0.04;

// Whether `m` is a readable copy: it ran to its trailer (a copy cut short
// says nothing of what it missed) and its estimated error rate is below
// ReadableCer. Only once an identity has been received readably are later
// copies of it repeats.
bool Readable(const TMessage& m);

// Counts Chars, Erasures, Suspicious and Lost over Text and Gaps and sets the
// estimated character error rate, 0 for an empty message. With a confidence
// for every character it is the expected share of wrong characters,
//   Cer = (sum over the characters of (1 − confidence) + Lost) / (Chars + Lost),
// an erasure or a suspicious character counting as wrong; otherwise
//   Cer = (Erasures + Suspicious + Lost) / (Chars + Lost).
// `doubtful` adds characters the decoder marked as uncertain. An erasure is
// '*' or the full-width 〓; a suspicious character is one the service cannot
// send: for English anything outside A-Z, 0-9, space and - ? : ( ) . , = / +;
// for Japanese a single-byte character or a two-byte code outside the JIS X
// 0208 rows.
void Measure(TMessage& m, int doubtful = 0);

// Characters of the service's message text sent in `seconds`: the estimate
// of what a decoder out of synchronisation for that long has lost.
int LostChars(TService s, double seconds);

// --- Text as characters ---------------------------------------------------------------

enum class TUnitKind : uint8_t { Char, Erasure, LineEnd, Gap };

// One character of code page 932 text (one or two bytes), a line end, or a gap.
struct TUnit {
  TUnitKind Kind = TUnitKind::Char;
  std::string Bytes;  // the character's bytes; "\n" for a line end; for a gap, "\n" or ""
  char Half = 0;      // the half-width ASCII form of a full- or half-width ASCII character, else 0
  int Lost = 0;       // gaps: characters estimated lost
  // Characters received on the line after a gap: 1 for the first character
  // after it, 2 for the next, and so on (0: not after a gap). A decoder that
  // has just found synchronisation again may still be in the wrong
  // letters/figures shift there; the further from the gap, the likelier a
  // shift code has set it right.
  int Doubt = 0;
  float Confidence = -1.0f;  // characters: the probability it was received right, < 0 unknown
  bool operator==(const TUnit&) const = default;
};

// Splits text (with its gaps) into units, marking the characters from a gap
// to the end of the next line as doubtful, and gives the characters their
// confidences (one per character as in TMessage::Confidence, else unknown);
// FromUnits is the inverse (`confidence`, if given, is left empty unless
// every character's confidence is known).
std::vector<TUnit> ToUnits(std::string_view text, const std::vector<TGap>& gaps = {},
                           std::span<const float> confidence = {});
void FromUnits(const std::vector<TUnit>& units, std::string& text, std::vector<TGap>& gaps,
               std::vector<float>* confidence = nullptr);

// One character of code page 932 text starting at `pos` (two bytes for a lead byte).
TUnit UnitAt(std::string_view text, std::size_t pos);

// --- Doubt ---------------------------------------------------------------------------------

// The confidence below which a character is shown as doubtful unless told otherwise.
inline constexpr double DefaultDoubtBelow = 0.9;

// A stretch of text whose characters are all sure or all doubtful.
struct TTextRun {
  std::string Text;  // code page 932
  bool Doubtful = false;
  bool operator==(const TTextRun&) const = default;
};

// `text` cut into runs of sure and doubtful characters, in order (their
// texts put together are `text`): a character is doubtful when its
// confidence (one per character, line ends not counted, as in
// TMessage::Confidence) is below `below`. Line ends and erasure marks (which
// say as much themselves) are never doubtful, nor is anything when the
// confidences do not match the text; a text without doubt is one run (none
// when empty).
std::vector<TTextRun> DoubtRuns(std::string_view text, std::span<const float> confidence, double below);

// `text` with each run of doubtful characters between `open` and `close`.
std::string MarkDoubt(std::string_view text, std::span<const float> confidence, double below,
                      std::string_view open = "[", std::string_view close = "]");

}  // namespace brontel::msg
