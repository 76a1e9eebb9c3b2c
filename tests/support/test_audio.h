// The audio that tests play into the sound server, and its WAV files.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "signal/navtex_signal.h"

namespace brontel::test {

// A 44100 Hz 16-bit stereo WAV file with `left` on the left channel and, on
// the right, a copy of it or silence.
inline void WriteStereoWav(const std::string& path, const std::vector<int16_t>& left, bool copyToRight)
{
  std::ofstream f(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) f.put(static_cast<char>(v >> (8 * i))); };
  auto u16 = [&](uint16_t v) { for (int i = 0; i < 2; ++i) f.put(static_cast<char>(v >> (8 * i))); };
  const auto data = static_cast<uint32_t>(left.size() * 4);
  f.write("RIFF", 4), u32(36 + data), f.write("WAVEfmt ", 8), u32(16);
  u16(1), u16(2), u32(44100), u32(176400), u16(4), u16(16);
  f.write("data", 4), u32(data);
  for (int16_t s : left) u16(static_cast<uint16_t>(s)), u16(copyToRight ? static_cast<uint16_t>(s) : 0);
}

// One English emission (phasing, the text, idle; 25 dB SNR) as 44100 Hz
// samples, with 0.3 s of noise before it.
inline std::vector<int16_t> EnglishEmission(const std::string& text, double phasing = 3.0)
{
  std::vector<uint8_t> codes;
  std::string error;
  gen::EnglishCodes(text, codes, error);
  gen::TEmission emission;
  emission.PhasingSeconds = phasing;
  emission.IdleSeconds = 1.0;
  gen::TFskParams fsk;
  fsk.SnrDb = 25.0;
  std::vector<int16_t> pcm = gen::NoiseOnly(0.3, fsk, 3);
  const auto signal = gen::ModulateFsk(gen::EmissionBits(codes, emission), fsk);
  pcm.insert(pcm.end(), signal.begin(), signal.end());
  return pcm;
}

}  // namespace brontel::test
