// The overlay's two item queues: filled rectangles and outlined texts,
// positioned in fractions of the host window (x from the left, y from the
// top). Producers queue items and publish them; DrawOverlayFrame draws the
// published ones.
//
// Each queue has two fixed buffers of 65535 entries. Producers write into
// the fill buffer; PublishOverlayQueues turns it into the published buffer
// and the other one into the fill buffer. A published buffer therefore stays
// valid until the second publish after it. Queueing and publishing never
// allocate; items beyond 65535 between two publishes are dropped.
//
// Host render thread only: there is no lock.
#pragma once

#include <cstdint>

// Style of one text item (colour channels use their low byte only).
struct OverlayTextStyle {
    std::int32_t red;
    std::int32_t green;
    std::int32_t blue;
    std::int32_t alpha;
    bool outlined;      // four black copies one pixel around, in the item's alpha
    bool centred;       // x is the centre (wins over right-aligned)
    bool rightAligned;  // x is the right edge
    float scale;        // multiplies the base text size
};

struct OverlayRect {
    std::uint8_t used;  // 1 for a live entry
    double centreX;
    double centreY;
    double width;
    double height;
    std::int32_t red;
    std::int32_t green;
    std::int32_t blue;
    std::int32_t alpha;
};

inline constexpr int kOverlayTextCapacity = 512;  // bytes, terminator included

struct OverlayText {
    std::uint8_t used;
    double x;  // left edge, centre or right edge, by the style's alignment
    double y;  // top
    char text[kOverlayTextCapacity];
    OverlayTextStyle style;
};

static_assert(sizeof(OverlayRect) == 56, "rectangle queue entries are 56 bytes");
static_assert(sizeof(OverlayText) == 560, "text queue entries are 560 bytes");

template <typename Entry>
struct OverlayQueue {
    static constexpr std::uint32_t kCapacity = 65535;

    Entry buffers[2][kCapacity];
    std::uint32_t fillCount;       // entries written into the fill buffer
    std::uint32_t publishedCount;  // entries of the published buffer
    std::uint8_t side;             // index of the fill buffer; the other is published

    Entry* FillBuffer() { return buffers[side]; }
    const Entry* Published() const { return buffers[side ^ 1]; }
};

// Process-wide, zero-initialised, never freed.
extern OverlayQueue<OverlayText> OverlayTextQueue;
extern OverlayQueue<OverlayRect> OverlayRectQueue;

// Queues a text at (x, y). The text is copied; a longer text than 511 bytes
// is cut to 511 (never inside a UTF-8 sequence). A null text is ignored.
void QueueOverlayText(const OverlayTextStyle& style, const char* text, float x, float y);

// Queues a filled rectangle by its centre and size.
void QueueOverlayRect(float centreX, float centreY, float width, float height, std::int32_t red, std::int32_t green,
                      std::int32_t blue, std::int32_t alpha);

// Makes what was queued since the last publish the drawn set, for both queues.
void PublishOverlayQueues();

// Bytes of `text` that fit an entry: its length when shorter than 512,
// else 511 moved back to the start of a UTF-8 sequence when that is
// where the cut would fall (at most three bytes back).
std::uint32_t OverlayTextCutLength(const char* text);
