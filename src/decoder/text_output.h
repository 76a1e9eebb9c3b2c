// Received text: the line under construction, the one-line edit and the
// bounded memo. All text is code page 932 bytes; limits count bytes.
#pragma once

#include <string>
#include <string_view>

#include "core/receiver_state.h"

namespace brontel {

// Adds a finished line to MemoText (followed by "\r\n"), drops bytes from the
// front two at a time while it exceeds MemoLimit, and replaces the memo's content.
void AppendMemoLine(TTextStore& text, std::string_view line);

// Shows the end of the current line: EditText keeps the last 47 or 48 bytes
// (dropped from the front two at a time, keeping two-byte characters whole).
void ShowEditLine(TTextStore& text, std::string_view line);

// Writes `line` to the memo if it holds text, then empties it and the edit.
void FlushLine(TTextStore& text, std::string& line);

// Discards `line` and empties the edit.
void ClearLine(TTextStore& text, std::string& line);

// The same for the channel's line.
void FlushLine(TReceiver& rx, int ch);
void ClearLine(TReceiver& rx, int ch);

}  // namespace brontel
