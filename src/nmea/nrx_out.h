// Received messages as NRX sentences: what each field carries for a message,
// and the sender that puts them on the network.
#pragma once

#include <string>
#include <string_view>

#include "messages/message.h"
#include "nmea/nrx.h"
#include "nmea/udp_sender.h"

namespace brontel {

// The frequency index for a receiver tuned to `khz` (0: not given, which
// means 518 kHz for English and 424 kHz for Japanese). The index has no code
// for 424 kHz, nor for any other frequency than 490, 518 and 4209.5 kHz:
// those get 0.
int NrxFrequencyIndex(double khz, msg::TService service);

// The sentence content of a received message: lines ended by CR LF, the bad
// characters those the message's error estimate counts (its rate times its
// received and lost characters), valid when the header was received whole
// and the estimated error rate is below 4 %.
TNrxMessage ToNrx(const msg::TMessage& m, int frequencyIndex);

// Sends every new message as NRX sentences, one UDP datagram each, numbering
// the messages 00 to 99 in turn.
class TNrxSender {
public:
  // Opens "HOST:PORT"; false with a message in `error`.
  bool Open(std::string_view destination, std::string& error);
  bool IsOpen() const { return Opened; }

  // The index sent instead of the one the receiver's frequency gives
  // (0 to 9; negative: none).
  void ForceFrequencyIndex(int index) { ForcedIndex = index; }

  // Sends `m`, received on `receiverKhz` (0: not given). Repeats of stored
  // messages and text outside any message are not sent, nor is anything
  // before Open. False, counted and with a message in `error`, when the
  // message did not go out whole.
  bool Send(const msg::TMessage& m, double receiverKhz, std::string& error);

  // Messages that did not go out whole.
  int Failures() const { return FailureCount; }

private:
  TUdpSender Udp;
  bool Opened = false;
  int ForcedIndex = -1;
  int Sequence = 0;
  int FailureCount = 0;
};

}  // namespace brontel
