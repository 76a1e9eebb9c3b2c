#include "nmea/nrx_out.h"

#include <algorithm>
#include <cmath>

namespace brontel {

int NrxFrequencyIndex(double khz, msg::TService service)
{
  if (khz == 0.0) return service == msg::TService::English ? nrx_frequency::Khz518 : nrx_frequency::NotOverTheAir;
  if (std::abs(khz - 490.0) < 1.0) return nrx_frequency::Khz490;
  if (std::abs(khz - 518.0) < 1.0) return nrx_frequency::Khz518;
  if (std::abs(khz - 4209.5) < 1.0) return nrx_frequency::Khz4209;
  return nrx_frequency::NotOverTheAir;
}

TNrxMessage ToNrx(const msg::TMessage& m, int frequencyIndex)
{
  TNrxMessage n;
  n.Id = m.Id;
  n.FrequencyIndex = frequencyIndex;
  n.ReceivedUtc = m.End;
  n.Text.reserve(m.Text.size() + m.Text.size() / 8);
  char previous = 0;
  for (const char c : m.Text) {  // lines as sent: CR LF
    if (c == '\n' && previous != '\r') n.Text.push_back('\r');
    n.Text.push_back(c);
    previous = c;
  }
  // A rate that is not a number is no reason to call the message good.
  const double cer = std::isnan(m.Cer) ? 1.0 : std::clamp(m.Cer, 0.0, 1.0);
  n.BadCharacters = static_cast<int>(std::lround(cer * (std::max(0, m.Chars) + std::max(0, m.Lost))));
  n.Valid = m.HeaderOk && cer < 0.04;
  return n;
}

bool TNrxSender::Open(std::string_view destination, std::string& error)
{
  Opened = Udp.Open(destination, error);
  return Opened;
}

bool TNrxSender::Send(const msg::TMessage& m, double receiverKhz, std::string& error)
{
  if (!Opened || m.Repeat || !m.HasHeader) return true;
  const int index = ForcedIndex >= 0 ? ForcedIndex : NrxFrequencyIndex(receiverKhz, m.Service);
  bool cut = false;
  const std::vector<std::string> sentences = NrxSentences(ToNrx(m, index), Sequence, &cut);
  Sequence = (Sequence + 1) % 100;
  const std::string what = "NRX sentences of message " + m.Id;
  for (const std::string& sentence : sentences) {
    if (!Udp.Send(sentence + "\r\n", error)) {
      ++FailureCount;
      error = what + " not sent: " + error;
      return false;
    }
  }
  if (cut) {
    ++FailureCount;
    error = what + " cut at 999 sentences";
    return false;
  }
  return true;
}

}  // namespace brontel
