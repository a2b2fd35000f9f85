// Shortening a text to a width by replacing its middle with "...", keeping
// as much of its beginning and its end as fits (for a path: the drive and
// the first folders, and the file name). Never splits a UTF-8 sequence.
#pragma once

#include <cstddef>

// Width of a zero-terminated text in some unit.
using TextWidthFunction = float (*)(const char* text, void* context);

inline constexpr std::size_t kFitTextLongest = 511;  // bytes of text considered

// Writes into `out`, which must hold kFitTextLongest + 4 bytes, the longest
// text of the form head + "..." + tail, with at least one character of
// `text` left out, that `measure` finds no wider than `maxWidth`; head and
// tail are as even as possible (the head gets the odd character). When even
// "..." alone is wider, `out` is "...". Only the first kFitTextLongest bytes
// of `text` are looked at. Returns the length written.
std::size_t FitTextToWidth(const char* text, float maxWidth, TextWidthFunction measure, void* context, char* out);
