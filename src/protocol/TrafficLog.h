#pragma once
// The two traffic boxes: txtRec shows the last frame sent (hexadecimal and
// readable form), T22 the last reply (hexadecimal). Each rendering replaces the
// whole text of its box; strings of any length are rendered whole.
#include <string>

#include "serial/ByteString.h"
#include "serial/Operator.h"

namespace veltra {

// Upper-case hexadecimal without leading zeros, each byte followed by a space.
std::string HexForm(const ByteString& bytes);

// The readable form: "]" -> "<ACK>", "[" -> "<NAK>", 0x30..0xFF as themselves,
// CR -> "<CR>", LF -> "<LF>", every other byte below 0x30 -> "@". Bytes from
// 0x80 up are shown as the character with that code (U+0080..U+00FF), in UTF-8.
std::string CleanStr(const ByteString& TextLine);

// txtRec: hexadecimal form, two line breaks, readable form.
void out_win(Operator& op, const ByteString& sst);
// T22: hexadecimal form followed by ",".
void out_tt2(Operator& op, const ByteString& sst);

}  // namespace veltra
