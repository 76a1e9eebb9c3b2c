// The robust character decoder: synchronisation found from the traffic itself
// and forward error correction on soft bits.
//
// Every bit alignment of both services and both polarities is scored on every
// character by how likely its two copies are to hold one valid code word
// (soft values, both copies together), against random bits. The scores are
// accumulated with a forgetting factor; synchronisation is declared when one
// hypothesis has clearly gathered evidence, moves when another clearly wins
// (bit slips, a change of service or polarity) and is lost only when the
// evidence has run out. Each character is decided a fixed delay after its
// repetition arrived: the most likely valid code word of both copies, or an
// erasure mark when even that is too uncertain. Every printed character
// carries the probability that it is right.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/char_scores.h"
#include "decoder/character_sync.h"
#include "decoder/code_table.h"
#include "decoder/text_output.h"

namespace brontel {

// Tuning of the decoder; the defaults are the ones the program uses.
struct TRobustDecoderParams {
  double LlrScale = 1.0;        // input soft values are multiplied by this …
  double LlrClip = 10.0;        // … and limited to ±LlrClip
  double Forget = 0.996;        // forgetting factor of the evidence, per bit
  double ShortForget = 0.95;    // forgetting factor of the recent evidence, per bit
  double ScoreClamp = 30.0;     // one character lowers the evidence by at most this
  double EvidenceFloor = -12.0; // evidence of a hypothesis never goes below this
  double AcquireLevel = 24.0;   // evidence needed to declare synchronisation …
  double AcquireMargin = 14.0;  // … ahead of every other hypothesis
  double LossLevel = 6.0;       // synchronisation ends when its evidence falls below this
  double LossRecent = -30.0;    // … or when its recent evidence falls below this
  int LossHeld = 12;            // … or when this many characters in a row were uncertain
  double PolarityMargin = 8.0;  // Japanese: evidence for one polarity over the other needed
  double PolarityClamp = 40.0;  // … and held within ±this
  double PairMargin = 6.0;      // Japanese: evidence against the byte pairing that moves it
  double SlipPenalty = 9.0;     // cost of placing a copy a bit off the grid when deciding
  double SwitchMargin = 16.0;   // another hypothesis must be this far ahead to take over
  double SlipMargin = 16.0;     // a neighbouring alignment that has gathered this much more …
  double SlipStepLimit = 10.0;  // … counting at most this much per character, is a bit slip
  double EraseBelow = 0.3;      // characters less likely than this become erasure marks
  double SureAbove = 0.9;       // characters at least this likely release held uncertain ones
  int DelayChars = 4;           // characters decided this many character times after their repetition
  int MaxHeld = 24;             // uncertain characters held back at most
  int ShiftLookahead = 4;       // English characters looked at after one to choose its row
  int MaxPreRoll = 40;          // characters decoded from before the moment of synchronisation …
  double PreRollBias = 1.0;     // … each needing this much evidence on average
  double ConfidenceScale = 1.0; // the odds against a printed character are raised to this power
  // 1: where the demodulator gives each bit's tones, whole characters are
  // detected from them as well (TCharScores); 0: from the soft values alone.
  int WholeCharacters = 0;
};

class TRobustDecoder {
public:
  explicit TRobustDecoder(const TRobustDecoderParams& params = {});

  // Takes one soft value per bit (> 0: the higher tone, magnitude about the
  // log-likelihood ratio) and writes decoded text through the text store.
  void Process(std::span<const double> soft, TTextStore& text);
  // The same with what the demodulator saw of each bit: where the tones are
  // known, whole characters are detected from them as well (the two models
  // of the phase weighed by how well each explains the signal).
  void Process(std::span<const TBitObservation> bits, TTextStore& text);

  // Decides the characters still waiting for their delay (end of input). As
  // when synchronisation is lost, uncertain characters after the last sure one
  // are taken for noise and dropped. The unfinished line stays in LineText().
  void Finish(TTextStore& text);

  // The input breaks off here (sound was lost): decides what is waiting,
  // writes the line and starts afresh, as if nothing had been heard.
  void Interrupt(TTextStore& text);

  bool EngMode() const { return Service_ == TServiceKind::English; }
  bool Inverted() const;
  bool InSync() const { return InSync_; }
  const std::string& LineText() const { return Line_; }
  // For each character of LineText() (a two-byte character counts once), the
  // probability that it is right; the lines written carry theirs to the sink.
  const std::vector<float>& LineConfidence() const { return LineConf_; }

  uint64_t Characters() const { return Characters_; }    // characters written (erasures included)
  uint64_t Erasures() const { return Erasures_; }        // erasure marks written
  uint64_t Corrections() const { return Corrections_; }  // characters whose copies did not both agree
  uint64_t SyncChanges() const { return SyncChanges_; }  // synchronisation gained, moved or lost
  uint64_t Bits() const { return static_cast<uint64_t>(Bit_); }
  // The whole-character detection: its tone frequency estimate and the
  // weight of the continuous-phase model.
  const TCharScores& CharScores() const { return Chars_; }
  TCharScores& CharScores() { return Chars_; }

  static constexpr int ServiceCount = 2;             // English 7-unit, Japanese 10-unit
  static constexpr int MaxPhases = 2 * MaxUnits;     // alignments of one service and polarity

  // How the code bits lie in the soft values: as taken, or every bit flipped.
  enum class TBitSense : uint8_t { AsTaken, Flipped };

private:
  static constexpr std::size_t Ix(TServiceKind s) { return static_cast<std::size_t>(s); }
  static constexpr std::size_t Ix(TBitSense s) { return static_cast<std::size_t>(s); }

  struct TSymbol {
    int Code = -1;           // code (English) or data value (Japanese); −1 erasure
    double Posterior = 0.0;  // probability of the decision
    double PLetters = 0.0, PFigures = 0.0;  // probability of the shift codes (English)
    int CopyA = -1, CopyB = -1;             // each copy decoded alone, −1 if not a valid word
    double PNoText = 0.0;                   // probability of a word that writes nothing
    bool Phasing = false;                   // the phasing pair (different words in the two copies)
    // Whole characters: each copy alone gave the decided word and the pair
    // is at least SureAbove likely against noise alone as well.
    bool Confirmed = true;
    std::array<int16_t, 4> Top{};           // the most likely values, best first …
    std::array<double, 4> TopP{};           // … and their probabilities
  };
  struct THypothesis {
    TServiceKind Service = TServiceKind::English;
    TBitSense Sense = TBitSense::AsTaken;
    int Phase = 0;
    bool operator==(const THypothesis&) const = default;
  };

  static constexpr int HistLen = 1024;  // bits kept, a power of two

  double Prob(int64_t i) const { return P1_[static_cast<std::size_t>(i) & (HistLen - 1)]; }
  double Llr(int64_t i) const { return L_[static_cast<std::size_t>(i) & (HistLen - 1)]; }
  double& Evidence(const THypothesis& h) { return Acc_[Ix(h.Service)][Ix(h.Sense)][h.Phase]; }
  double& Recent(const THypothesis& h) { return Short_[Ix(h.Service)][Ix(h.Sense)][h.Phase]; }
  // Japanese: the bit sense the values received at an alignment favour.
  TBitSense JisSense(int phase) const { return JisPolarity_[phase] > 0.0 ? TBitSense::Flipped : TBitSense::AsTaken; }

  void Step(double soft, const TBitObservation* bit, TTextStore& text);
  bool HoldsIdle(int64_t end) const;
  // How well the window ending at `end` holds idle (both copies, or the newer one).
  double IdleScore(int64_t end, bool both) const;
  // Scores and decisions of the window whose second copy ends at bit `end`
  // and whose first copy ends at bit `first` (normally end − repeat).
  double WindowScore(TServiceKind service, int64_t end, TBitSense sense) const;
  double PairScore(TServiceKind service, int64_t end, int64_t first, TBitSense sense) const;
  void ScoreBoth(TServiceKind service, int64_t end, int64_t first, double score[2]) const;
  TSymbol DecideChar(TServiceKind service, TBitSense sense, int64_t end, int64_t first);
  // The same from whole-character scores (false when the tones are not known).
  bool DecideWhole(TServiceKind service, TBitSense sense, int64_t end, int64_t first, TSymbol& s);
  // Held characters since the last likely one (those synchronisation loses patience with).
  int UncertainInARow() const;
  void DecideLocally(int64_t end, TTextStore& text);
  void UpdateSync(TTextStore& text);
  void Acquire(const THypothesis& h, bool preRoll, TTextStore& text);
  void Switch(const THypothesis& h, bool slip, TTextStore& text);
  void Lose(TTextStore& text);
  void DecideDue(int64_t newestEnd, TTextStore& text);
  double EvidenceAfter(int64_t end) const;
  void Take(const TSymbol& s, TTextStore& text, double after);
  void Emit(const TSymbol& s, TTextStore& text);
  void EmitNow(const TSymbol& s, TTextStore& text);
  void FlushAhead(TTextStore& text);
  bool ErasedShift(const TSymbol& s);
  void AllowShift(const TSymbol& s);  // the figures odds after a character that may have been a shift
  void EmitEnglish(const TSymbol& s, TTextStore& text);
  void EmitJapanese(const TSymbol& s, TTextStore& text);
  // Appends `t` (`chars` characters, each right with probability p) to the line.
  // A character that wrote nothing, perhaps wrongly so.
  void WroteNothing(const TSymbol& s);
  // Japanese: a new pairing (the next byte starts a pair) with this much evidence.
  void SetPairing(double evidence);
  void Print(std::string_view t, std::size_t chars, double p, TTextStore& text);
  void ReleaseHeld(TTextStore& text);
  void ResetText();

  TRobustDecoderParams P_;
  std::array<double, ServiceCount> Keep_{}, KeepShort_{};  // forgetting per character period
  std::array<double, HistLen> L_{};   // clipped soft values as taken
  std::array<double, HistLen> P1_{};  // probability that the bit is the higher tone
  int64_t Bit_ = 0;                   // bits received
  TCharScores Chars_;                 // whole-character scores of the same bits
  std::vector<double> Mixed_, Whole_, PerBit_;  // scratch of DecideWhole()
  // Per service and bit sense, each word's pattern in Chars_ (its index), and
  // the phasing pair's (first copy, repetition).
  std::array<std::array<std::vector<int16_t>, 2>, ServiceCount> WordPattern_;
  std::array<std::array<std::array<int16_t, 2>, 2>, ServiceCount> PhasingPattern_{};

  // Evidence per service, bit sense and alignment.
  std::array<std::array<std::array<double, MaxPhases>, 2>, ServiceCount> Acc_{}, Short_{}, Last_{};
  std::array<double, 4> SlipSum_{};  // advantage of the alignments 2 and 1 bits before and after …
  std::array<int64_t, 4> SlipFrom_{};  // … since the copy that starts at this bit
  int SlipStep_ = 0;     // the last slip found (bits the grid moved), 0 if none since synchronisation …
  int64_t SlipAt_ = 0;   // … and the first bit of the copies sent after it

  std::array<double, MaxPhases> JisPolarity_{};  // Japanese: evidence for flipped code bits, per alignment

  bool InSync_ = false;
  TServiceKind Service_ = TServiceKind::English;
  TBitSense Sense_ = TBitSense::AsTaken;
  int Phase_ = 0;
  int64_t LastEnd_ = -1;  // newest bit of the last decided character
  int64_t LastIdle_ = -1000;  // newest bit of the last idle character at the synchronised alignment …
  double IdleEvidence_ = 0.0;  // … and the alignment's evidence then
  int LastOffGrid_ = 0;   // offset from the grid of the last decided character's second copy
  bool IdleBefore_ = false;  // the last decided character was idle

  std::deque<TSymbol> Held_;   // uncertain characters not written yet
  std::deque<TSymbol> Ahead_;  // English characters decided, waiting for the ones after them
  std::string Line_;
  std::vector<float> LineConf_;  // confidence of each character of Line_
  double NoneLost_ = 1.0;        // probability that no character went unprinted since the last one printed
  double FigOdds_ = -1.0;      // log-odds of the figures shift over letters
  TKanjiPair Kanji_;           // Japanese bytes being paired (an unread byte held as NoByte)
  std::array<double, 2> KanjiSure_{};  // … and the probability of each
  double PairEvidence_ = 0.0;  // Japanese: how well the bytes fit the current pairing (log-odds)
  double PairPeak_ = 0.0;      // … its highest value since the pairing was set …
  std::size_t PairPeakAt_ = 0; // … and the first character of the line printed after that
  bool AfterIdle_ = false;     // the last character written nothing but phasing or idle

  uint64_t Characters_ = 0, Erasures_ = 0, Corrections_ = 0, SyncChanges_ = 0;
};

}  // namespace brontel
