#pragma once
// base64 as mail programs write it, decoded fast: lines of the 64 letters,
// ended by CR LF or LF, "=" or "==" only at the very end. Anything else
// (a stray character, a bare CR, a line cut inside padding, text after the
// padding, a last group of one letter) is left to GMime's decoder, which
// takes whatever comes; on what this one takes, both give the same bytes.
#include <QtGlobal>

namespace maillib {

// The most bytes `encodedLength` letters of base64 decode to, with the room
// the decoder writes beyond them.
inline qsizetype base64DecodedRoom(qsizetype encodedLength) { return encodedLength / 4 * 3 + 32; }

// Decodes `n` bytes at `in` into `out` (base64DecodedRoom(n) bytes of room)
// and returns the length decoded; -1 when the text is not such base64
// (then `out` holds nothing to use).
qsizetype decodeCleanBase64(const char* in, qsizetype n, unsigned char* out);

// The same without the processor's vector instructions, for tests that
// compare the two.
qsizetype decodeCleanBase64Scalar(const char* in, qsizetype n, unsigned char* out);

}  // namespace maillib
