#include "overlay/overlay_queues.h"

#include <cstring>

OverlayQueue<OverlayText> OverlayTextQueue;
OverlayQueue<OverlayRect> OverlayRectQueue;

std::uint32_t OverlayTextCutLength(const char* text)
{
    constexpr std::uint32_t kLongest = kOverlayTextCapacity - 1;
    std::uint32_t length = 0;
    while (length < kOverlayTextCapacity && text[length] != '\0') ++length;
    if (length < kOverlayTextCapacity) return length;
    // Cutting before a continuation byte would split a UTF-8 sequence: cut
    // before its lead byte instead.
    std::uint32_t cut = kLongest;
    for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++back) --cut;
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) return kLongest;  // not UTF-8 after all
    return cut;
}

void QueueOverlayText(const OverlayTextStyle& style, const char* text, float x, float y)
{
    OverlayQueue<OverlayText>& queue = OverlayTextQueue;
    if (!text || queue.fillCount >= queue.kCapacity) return;
    OverlayText& entry = queue.FillBuffer()[queue.fillCount];
    entry.x = x;
    entry.y = y;
    const std::uint32_t length = OverlayTextCutLength(text);
    std::memcpy(entry.text, text, length);
    entry.text[length] = '\0';
    entry.style = style;
    entry.used = 1;
    ++queue.fillCount;
}

void QueueOverlayRect(float centreX, float centreY, float width, float height, std::int32_t red, std::int32_t green,
                      std::int32_t blue, std::int32_t alpha)
{
    OverlayQueue<OverlayRect>& queue = OverlayRectQueue;
    if (queue.fillCount >= queue.kCapacity) return;
    OverlayRect& entry = queue.FillBuffer()[queue.fillCount];
    entry.centreX = centreX;
    entry.centreY = centreY;
    entry.width = width;
    entry.height = height;
    entry.red = red;
    entry.green = green;
    entry.blue = blue;
    entry.alpha = alpha;
    entry.used = 1;
    ++queue.fillCount;
}

namespace {

template <typename Entry>
void Publish(OverlayQueue<Entry>& queue)
{
    queue.publishedCount = queue.fillCount;
    queue.side ^= 1;
    queue.fillCount = 0;
}

}  // namespace

void PublishOverlayQueues()
{
    Publish(OverlayTextQueue);
    Publish(OverlayRectQueue);
}
