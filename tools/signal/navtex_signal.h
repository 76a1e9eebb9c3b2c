// A NAVTEX transmitter in software: SITOR-B collective FEC bit streams for
// English (7-unit) and Japanese (10-unit JIS X 0208) messages, and their
// phase-continuous FSK audio with optional noise, offset and clock error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brontel::gen {

// --- Audio ---------------------------------------------------------------------
struct TFskParams {
  double CentF = 800.0;       // centre of the tone pair, Hz (tones CentF ± 85)
  double Shift = 170.0;       // distance between the tones, Hz
  double Baud = 100.0;        // bit rate (e.g. 99.75 for a clock error)
  double Amplitude = 8000.0;  // peak amplitude of the tone, 16-bit units
  double Offset = 0.0;        // frequency offset added to both tones, Hz
  std::optional<double> SnrDb;  // white noise: tone power / noise power in NoiseBandwidth
  double NoiseBandwidth = 500.0;  // Hz
  uint32_t Seed = 1;          // noise seed
  double FadingDoppler = 0.0; // Rayleigh fading: Doppler spread in Hz (0 = none)
  uint32_t FadingSeed = 0;    // fading sequence (0: derived from Seed)
  bool FadingSelective = false;  // each tone fades on its own (independent gains)
  int SampleRate = 44100;
};

// Phase-continuous FSK at SampleRate: bit 1 is the higher tone, bit 0 the
// lower. With FadingDoppler > 0 the tone is multiplied by a complex Gaussian
// gain of unit mean power whose Doppler spectrum is the classical (Clarke)
// one of that spread (flat Rayleigh fading; the SNR is then the mean SNR).
// Noise (if any) is added to every sample; values are rounded and clipped
// to 16 bits.
std::vector<int16_t> ModulateFsk(const std::vector<uint8_t>& bits, const TFskParams& p);

// Noise alone (or silence when p.SnrDb is unset) for `seconds`, with the same
// level ModulateFsk would add. `stream` picks an independent noise sequence.
std::vector<int16_t> NoiseOnly(double seconds, const TFskParams& p, uint32_t stream = 7);

// --- A receiver's band --------------------------------------------------------
// What an MF listener hears beside the wanted emission: carriers, static
// crashes, a second station, a second propagation path and the receiver's AGC.

struct TCarrier {
  double Offset = 0.0;   // Hz from the centre of the tone pair
  double LevelDb = 0.0;  // carrier power over the tone's power
  double Start = 0.0;    // seconds into the recording when it is switched on
};

// Static crashes: bursts of noise at random times (Poisson arrivals), each
// with a sharp onset and an exponential decay over its length.
struct TCrashes {
  double PerSecond = 0.0;  // mean rate (0: none)
  double LevelDb = 30.0;   // peak burst power over the noise power (over the tone's power without noise)
  double MinMs = 1.0, MaxMs = 10.0;  // length, drawn uniformly
};

// Another NAVTEX station on the same frequency with its own bits and timing.
struct TSecondStation {
  std::vector<uint8_t> Bits;  // its emission, in the receiver's sense (1 = higher tone)
  double LevelDb = -3.0;      // its tone power over the wanted station's
  double Offset = 0.0;        // its frequency offset from the wanted centre, Hz
  double Start = 0.0;         // seconds into the recording when it starts
  double Baud = 100.0;
};

// A second propagation path: the emission again, later and weaker, with its
// own Rayleigh fading when FadingDoppler > 0.
struct TTwoPath {
  double DelayMs = 0.0;    // 0: a single path
  double RatioDb = -6.0;   // its power over the main path's
  double FadingDoppler = 0.0;
};

// The receiver's AGC on everything it hears: a peak detector with a fast
// attack and a slow release sets a gain that keeps the peak at the tone's
// amplitude.
struct TAgc {
  double AttackMs = 1.0;
  double ReleaseMs = 0.0;  // time constant of the release (0: no AGC)
};

struct TBand {
  std::vector<TCarrier> Carriers;
  TCrashes Crashes;
  std::optional<TSecondStation> Second;
  TTwoPath TwoPath;
  TAgc Agc;
  bool Any() const
  {
    return !Carriers.empty() || Crashes.PerSecond > 0.0 || Second || TwoPath.DelayMs > 0.0 || Agc.ReleaseMs > 0.0;
  }
};

// The tone pair of ModulateFsk before noise and rounding (fading included).
std::vector<double> FskWaveform(const std::vector<uint8_t>& bits, const TFskParams& p);

// A whole recording: `lead` seconds, the emission, `tail` seconds, with white
// noise (p.SnrDb) and everything in `band` over all of it, rounded to 16 bits.
std::vector<int16_t> BandRecording(const std::vector<uint8_t>& bits, const TFskParams& p, const TBand& band,
                                   double lead, double tail);

// --- SITOR-B framing -------------------------------------------------------------
enum class TService { English, Japanese };

struct TEmission {
  TService Service = TService::English;
  double PhasingSeconds = 10.0;  // phasing before the message
  double IdleSeconds = 2.0;      // end-of-emission idle after the message
};

// The 7-unit English codes for `text` (ASCII; lower case is sent as upper case;
// '\n' as carriage return + line feed), with letters/figures shifts inserted and
// a letters shift first. On failure returns false and names the character.
bool EnglishCodes(std::string_view text, std::vector<uint8_t>& codes, std::string& error);

// The JIS X 0208 bytes (7-bit values) for UTF-8 `text`, two per character;
// printable ASCII is sent as its full-width form, '\n' as 0x0D 0x0A.
bool JapaneseCodes(std::string_view text, std::vector<uint8_t>& codes, std::string& error);

// Bits of one emission: phasing, then every character in a first-transmission
// slot and again five slots later in a repetition slot, then idle. The bits are
// in the sense the receiver takes them (1 = higher tone) for upright polarity;
// `inverted` flips every bit.
std::vector<uint8_t> EmissionBits(const std::vector<uint8_t>& codes, const TEmission& e,
                                  bool inverted = false);

// Bits of one 7-unit character (first bit sent = bit 6 of the code) and of one
// 10-unit character (data LSB first, then the count of zero data bits, MSB first),
// in transmitted-value sense before the service's tone mapping.
std::vector<uint8_t> EnglishCharBits(uint8_t code);
std::vector<uint8_t> JapaneseCharBits(uint8_t data);

}  // namespace brontel::gen
