// Dear ImGui's compressed-font format: the stream that stb_decompress in
// imgui_draw.cpp reads (AddFontFromMemoryCompressedTTF).
//
// Layout: a 16-byte header (0x57 0xBC 0x00 0x00, four zero bytes, the
// decompressed length and the match window, both 32-bit big-endian), then
// literal and match tokens, then 0x05 0xFA and the Adler-32 checksum of the
// decompressed bytes, big-endian.
//
// Token first bytes (big-endian fields; lengths and distances are stored
// minus one):
//   0x80..0xFF  match, length 1..128 in the low 7 bits, distance 1..256 in one byte
//   0x40..0x7F  match, distance 1..16384 in 14 bits, length 1..256 in one byte
//   0x20..0x3F  literal run of 1..32 bytes
//   0x18..0x1F  match, distance 1..524288 in 19 bits, length 1..256 in one byte
//   0x10..0x17  match, distance 1..524288 in 19 bits, length 1..65536 in two bytes
//   0x08..0x0F  literal run of 1..2048 bytes (11 bits)
//   0x07        literal run of 1..65536 bytes (two bytes)
//   0x06        match, distance 1..2^24 in three bytes, length 1..256 in one byte
//   0x04        match, distance 1..2^24 in three bytes, length 1..65536 in two bytes
// A match copies byte by byte from `distance` bytes back, so it may overlap
// the bytes it writes (a run of one byte is a match at distance 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace FontCompress {

// Compresses `size` bytes (fewer than 2^32) into the format above.
std::vector<unsigned char> Compress(const unsigned char* data, std::size_t size);

// The Adler-32 checksum the stream ends with (initial value 1).
std::uint32_t Adler32(const unsigned char* data, std::size_t size);

}  // namespace FontCompress
