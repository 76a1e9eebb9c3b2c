#include "decoder/text_output.h"

namespace brontel {

namespace {

// Removes bytes from the front, two at a time, until s fits in limit.
void TrimFrontInPairs(std::string& s, std::size_t limit)
{
  if (s.size() <= limit) return;
  const std::size_t excess = s.size() - limit;
  s.erase(0, excess + (excess & 1));
}

void SetEdit(TTextStore& text, std::string_view s)
{
  if (text.Sink) text.Sink->EditChanged(s);
}

}  // namespace

void AppendMemoLine(TTextStore& text, std::string_view line)
{
  text.MemoText.append(line);
  text.MemoText.append("\r\n");
  TrimFrontInPairs(text.MemoText, MemoLimit);
  if (text.Sink) {
    text.Sink->LineWritten(line);
    text.Sink->MemoReplaced(text.MemoText);
  }
}

void ShowEditLine(TTextStore& text, std::string_view line)
{
  text.EditText.assign(line);
  TrimFrontInPairs(text.EditText, EditLimit);
  SetEdit(text, text.EditText);
}

void FlushLine(TReceiver& rx, int ch)
{
  std::string& line = rx.Channels[ch].LineText;
  if (line.empty()) return;
  AppendMemoLine(rx.Text, line);
  line.clear();
  SetEdit(rx.Text, {});
  rx.Text.EditText.clear();
}

void ClearLine(TReceiver& rx, int ch)
{
  rx.Channels[ch].LineText.clear();
  SetEdit(rx.Text, {});
  rx.Text.EditText.clear();
}

}  // namespace brontel
