// The robust receive path: the robust demodulator's soft bits into the robust
// character decoder, beside the exact path and independent of it.
#pragma once

#include <complex>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "decoder/robust_decoder.h"
#include "decoder/text_output.h"
#include "dsp/robust_demod.h"

namespace brontel {

class TRobustPath {
public:
  explicit TRobustPath(double centreHz = 800.0, const TRobustDecoderParams& params = {});
  // The demodulator hands the baseband to a member: not copied or moved.
  TRobustPath(const TRobustPath&) = delete;
  TRobustPath& operator=(const TRobustPath&) = delete;

  // Centre of the received tone pair, Hz (limited as the demodulator does).
  void SetCentre(double hz) { Demod_.SetCentre(hz); }
  double Centre() const { return Demod_.Centre(); }

  // Mono 44100 Hz samples on the 16-bit scale, any count; text goes to `text`.
  void Process(std::span<const double> left44100, TTextStore& text);

  // End of input: decides the characters still waiting for their delay.
  void Finish(TTextStore& text) { Decoder_.Finish(text); }

  // Sound was lost before the next samples: the line ends here and both
  // stages start afresh (bit timing and tuning must be found again).
  void NoteGap(TTextStore& text)
  {
    Decoder_.Interrupt(text);
    Demod_.Reset();
    Bits_.Reset();
  }

  // Status of both stages.
  bool EngMode() const { return Decoder_.EngMode(); }
  bool Inverted() const { return Decoder_.Inverted(); }
  bool InSync() const { return Decoder_.InSync(); }
  const std::string& LineText() const { return Decoder_.LineText(); }
  // The confidences of the line under construction, one per character.
  const std::vector<float>& LineConfidence() const { return Decoder_.LineConfidence(); }
  uint64_t Characters() const { return Decoder_.Characters(); }
  uint64_t Erasures() const { return Decoder_.Erasures(); }
  uint64_t Corrections() const { return Decoder_.Corrections(); }
  uint64_t SyncChanges() const { return Decoder_.SyncChanges(); }
  bool SignalPresent() const { return Demod_.SignalPresent(); }
  double SnrDb() const { return Demod_.SnrDb(); }
  double FrequencyOffset() const { return Demod_.FrequencyOffset(); }
  double BitRate() const { return Demod_.BitRate(); }

  const TRobustDemod& Demod() const { return Demod_; }
  const TRobustDecoder& Decoder() const { return Decoder_; }

private:
  // Keeps the demodulator's latest baseband and measures each bit put out
  // in it: both tones' complex amplitudes over the bit, referred to its start.
  class TBitTones final : public TBasebandSink {
  public:
    void Baseband(std::complex<double> sample) override;
    void Bit(const TBitPlace& place) override;
    void Reset();
    std::deque<TBitObservation> Ready;  // one per soft value, in order

  private:
    std::vector<std::complex<double>> Samples_;
    uint64_t First_ = 0;  // number of the first sample held
    double GridEnd_ = -1e9, GridPeriod_ = 21.0;
  };

  TRobustDemod Demod_;
  TRobustDecoder Decoder_;
  TBitTones Bits_;
  bool Whole_;  // the decoder detects whole characters from each bit's tones
  std::vector<double> Soft_;
  std::vector<TBitObservation> Observed_;
};

}  // namespace brontel
