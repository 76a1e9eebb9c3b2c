// Writes the WAV files that tests play into the sound server.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

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

}  // namespace brontel::test
