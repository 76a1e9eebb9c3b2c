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

void FlushLine(TTextStore& text, std::string& line)
{
  if (line.empty()) return;
  AppendMemoLine(text, line);
  line.clear();
  SetEdit(text, {});
  text.EditText.clear();
}

void ClearLine(TTextStore& text, std::string& line)
{
  line.clear();
  SetEdit(text, {});
  text.EditText.clear();
}

void FlushLine(TReceiver& rx, int ch) { FlushLine(rx.Text, rx.Channels[ch].LineText); }

void ClearLine(TReceiver& rx, int ch) { ClearLine(rx.Text, rx.Channels[ch].LineText); }

}  // namespace brontel
