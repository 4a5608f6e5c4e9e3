#pragma once
// Aligned-PER coding of LGCP::Message for the control server.
#include <iosfwd>
#include <vector>

#include "messages/LGCP.h"

namespace LgcpCodec {

// Appends the encoding of m to out; false (out unusable) on failure.
bool Encode(const LGCP::Message& m, std::vector<char>& out);
// Replaces out with the encoding of m, reusing its storage; false (out
// unusable) on failure.
bool EncodeTo(const LGCP::Message& m, std::vector<char>& out);
// Decodes [first, last) into m; false when the bytes are not a message.
bool Decode(const char* first, const char* last, LGCP::Message& m);
// Writes m in value notation (when the printer is built).
void Print(std::ostream& os, const LGCP::Message& m);

}  // namespace LgcpCodec
