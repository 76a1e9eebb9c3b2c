// A second NAVTEX band generator, built unlike the first so that receivers
// are not tuned to one generator's habits: the tones come from two
// free-running oscillators switched at the bit edges (phase jumps at every
// change of tone), the noise from its own generator, crashes are ringing
// bursts (damped resonances of random pitch and level), carriers drift, and
// the AGC is a power detector with a hang time and a release in dB per second.
// Output is float, full scale ±1.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace brontel::gen2 {

struct TDriftingCarrier {
  double Offset = 0.0;   // Hz from the centre at its start
  double LevelDb = 0.0;  // power over the wanted tone's
  double Start = 0.0;    // seconds into the recording
  double Drift = 0.0;    // Hz per second
};

struct TSwitchedParams {
  double Centre = 800.0, Shift = 170.0, Offset = 0.0, Baud = 100.0;
  double Level = 0.25;           // tone amplitude, full scale 1
  std::optional<double> SnrDb;   // tone power over the noise power in 500 Hz
  uint64_t Seed = 1;

  double CrashRate = 0.0;        // ringing bursts per second
  double CrashLevelDb = 30.0;    // their mean peak power over the noise power (over the tone's without noise)
  double CrashMinMs = 1.0, CrashMaxMs = 10.0;

  std::vector<TDriftingCarrier> Carriers;

  std::vector<uint8_t> SecondBits;  // another station (1 = higher tone); empty: none
  double SecondLevelDb = -3.0, SecondOffset = 0.0, SecondStart = 0.0, SecondBaud = 100.0;

  double EchoMs = 0.0;        // a second path this much later (0: none) …
  double EchoRatioDb = -6.0;  // … this much weaker …
  double EchoBeatHz = 0.0;    // … and shifted by this much (the two paths beat)

  double AgcReleaseDbPerSecond = 0.0;  // 0: no AGC
  double AgcAttackMs = 2.0, AgcHangMs = 100.0;

  int Rate = 44100;
};

// `lead` seconds, the emission of `bits`, `tail` seconds.
std::vector<float> SwitchedRecording(const std::vector<uint8_t>& bits, const TSwitchedParams& p, double lead,
                                     double tail);

}  // namespace brontel::gen2
