#include "overlay/text_fit.h"

#include <cstring>

namespace {

constexpr char kEllipsis[] = "...";
constexpr std::size_t kEllipsisLength = sizeof(kEllipsis) - 1;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

struct Characters {
    const char* text;
    std::size_t length;                    // bytes
    std::size_t count;                     // characters
    std::size_t starts[kFitTextLongest + 1];  // byte offset of each character, then the length

    // `kept` characters, the first half from the front and the rest from the
    // back, around the ellipsis.
    std::size_t Compose(std::size_t kept, char* out) const
    {
        const std::size_t head = (kept + 1) / 2, tail = kept / 2;
        const std::size_t headBytes = starts[head];
        const std::size_t tailStart = starts[count - tail];
        std::size_t at = 0;
        std::memcpy(out, text, headBytes);
        at += headBytes;
        std::memcpy(out + at, kEllipsis, kEllipsisLength);
        at += kEllipsisLength;
        std::memcpy(out + at, text + tailStart, length - tailStart);
        at += length - tailStart;
        out[at] = '\0';
        return at;
    }
};

}  // namespace

std::size_t FitTextToWidth(const char* text, float maxWidth, TextWidthFunction measure, void* context, char* out)
{
    Characters characters;
    characters.text = text;
    characters.length = 0;
    while (characters.length < kFitTextLongest && text[characters.length] != '\0') ++characters.length;
    // A stray continuation byte belongs to the character before it.
    characters.count = 0;
    for (std::size_t i = 0; i < characters.length; ++i) {
        if (i == 0 || !IsContinuation(text[i])) characters.starts[characters.count++] = i;
    }
    characters.starts[characters.count] = characters.length;

    // The width grows with the number of kept characters: find the largest
    // number that fits, from 0 to all but one.
    characters.Compose(0, out);
    if (measure(out, context) > maxWidth) return kEllipsisLength;
    std::size_t low = 0, high = characters.count == 0 ? 0 : characters.count - 1;
    while (low < high) {
        const std::size_t middle = (low + high + 1) / 2;
        characters.Compose(middle, out);
        if (measure(out, context) <= maxWidth) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return characters.Compose(low, out);
}
