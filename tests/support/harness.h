// Drives a whole receiver from generated audio or bits and collects its text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/receiver_session.h"

namespace brontel::test {

// Collects every line the decoder writes and every edit update.
class TRecordingSink final : public TTextSink {
public:
  void LineWritten(std::string_view line, std::span<const float>) override { Lines.emplace_back(line); }
  void MemoReplaced(std::string_view memo) override { Memo.assign(memo); ++MemoUpdates; }
  void EditChanged(std::string_view text) override { Edit.assign(text); ++EditUpdates; }

  std::vector<std::string> Lines;
  std::string Memo, Edit;
  int MemoUpdates = 0, EditUpdates = 0;
};

struct THarness {
  THarness(double centF = 800.0);

  // Mono 44100 Hz samples on the left channel (right silent unless `right`
  // is given), cut into blocks; a final partial block is padded with zeros.
  void FeedPcm(const std::vector<int16_t>& left, const std::vector<int16_t>* right = nullptr);
  // Bits straight into the decoder of channel 0, as the bit timing would hand them over.
  void FeedBits(const std::vector<uint8_t>& bits);

  // All finished lines joined with '\n', plus the unfinished line if any.
  std::string Text() const;

  TChannelState& Ch() { return Rx->Channels[0]; }

  TRecordingSink Sink;
  TReceiverSession Session;
  TReceiver* Rx;                    // the session's receiver
  std::vector<uint8_t> AllBits;     // every bit taken, over all blocks
  std::vector<int> BitsPerBlock;    // BitCount of every block
};

// Every bit concatenated, as 0/1 characters.
std::string BitString(const std::vector<uint8_t>& bits);

}  // namespace brontel::test
