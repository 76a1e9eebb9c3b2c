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

void EmptyEdit(TTextStore& text)
{
  if (text.Sink) text.Sink->EditChanged({});
  text.EditText.clear();
}

}  // namespace

void AppendMemoLine(TTextStore& text, std::string_view line, std::span<const float> confidence)
{
  text.MemoText.append(line);
  text.MemoText.append("\r\n");
  TrimFrontInPairs(text.MemoText, MemoLimit);
  if (text.Sink) {
    text.Sink->LineWritten(line, confidence);
    text.Sink->MemoReplaced(text.MemoText);
  }
}

void ShowEditLine(TTextStore& text, std::string_view line)
{
  text.EditText.assign(line);
  TrimFrontInPairs(text.EditText, EditLimit);
  if (text.Sink) text.Sink->EditChanged(text.EditText);
}

void LineGrew(TTextStore& text, std::string& line)
{
  if (line.size() >= LineLimit)
    FlushLine(text, line);
  else
    ShowEditLine(text, line);
}

void FlushLine(TTextStore& text, std::string& line)
{
  if (line.empty()) return;
  AppendMemoLine(text, line);
  line.clear();
  EmptyEdit(text);
}

void ClearLine(TTextStore& text, std::string& line)
{
  line.clear();
  EmptyEdit(text);
}

void LineGrew(TTextStore& text, std::string& line, std::vector<float>& confidence)
{
  if (line.size() >= LineLimit)
    FlushLine(text, line, confidence);
  else
    ShowEditLine(text, line);
}

void FlushLine(TTextStore& text, std::string& line, std::vector<float>& confidence)
{
  if (!line.empty()) {
    AppendMemoLine(text, line, confidence);
    line.clear();
    EmptyEdit(text);
  }
  confidence.clear();
}

}  // namespace brontel
