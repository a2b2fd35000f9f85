// The overlay queues on their own: what an entry holds, publishing and the
// two buffers, the limit of 65535, texts cut to 511 bytes, and that neither
// queueing nor publishing allocates.
#include <gtest/gtest.h>

#include <string>

#include "base/pool_heap.h"
#include "overlay/overlay_queues.h"

namespace {

// The module's operator new counts its calls on threads outside the task
// pool, this test's thread among them.
long Allocations() { return static_cast<long>(PoolHeap::OutsideAllocations()); }

constexpr OverlayTextStyle kStyle{1, 2, 3, 4, true, false, true, 2.5f};

class OverlayQueueTest : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear()
    {
        OverlayTextQueue.fillCount = OverlayRectQueue.fillCount = 0;
        PublishOverlayQueues();
        PublishOverlayQueues();
    }
    static std::string PublishedText(std::uint32_t index) { return OverlayTextQueue.Published()[index].text; }
};

TEST_F(OverlayQueueTest, EntriesHoldWidenedPositionsTheCopiedTextAndStyleAndAreMarkedUsed)
{
    std::string text = "Models loaded: 3";
    QueueOverlayText(kStyle, text.c_str(), 0.3f, 0.7f);
    text[0] = 'X';  // the entry has its own copy
    QueueOverlayRect(0.1f, 0.2f, 0.3f, 0.4f, 5, 6, 7, 0x1FF);
    PublishOverlayQueues();

    ASSERT_EQ(OverlayTextQueue.publishedCount, 1u);
    const OverlayText& entry = OverlayTextQueue.Published()[0];
    EXPECT_EQ(entry.used, 1);
    EXPECT_EQ(entry.x, double(0.3f));
    EXPECT_EQ(entry.y, double(0.7f));
    EXPECT_STREQ(entry.text, "Models loaded: 3");
    EXPECT_EQ(entry.style.red, 1);
    EXPECT_EQ(entry.style.alpha, 4);
    EXPECT_TRUE(entry.style.outlined);
    EXPECT_FALSE(entry.style.centred);
    EXPECT_TRUE(entry.style.rightAligned);
    EXPECT_EQ(entry.style.scale, 2.5f);

    ASSERT_EQ(OverlayRectQueue.publishedCount, 1u);
    const OverlayRect& rect = OverlayRectQueue.Published()[0];
    EXPECT_EQ(rect.used, 1);
    EXPECT_EQ(rect.centreX, double(0.1f));
    EXPECT_EQ(rect.centreY, double(0.2f));
    EXPECT_EQ(rect.width, double(0.3f));
    EXPECT_EQ(rect.height, double(0.4f));
    EXPECT_EQ(rect.blue, 7);
    EXPECT_EQ(rect.alpha, 0x1FF);  // kept as given; the drawing uses the low byte
}

TEST_F(OverlayQueueTest, PublishingSwapsBuffersAndAPublishedBufferLastsUntilTheSecondPublishAfterIt)
{
    QueueOverlayText(kStyle, "first", 0, 0);
    PublishOverlayQueues();
    EXPECT_EQ(OverlayTextQueue.fillCount, 0u);
    const OverlayText* firstBuffer = OverlayTextQueue.Published();

    QueueOverlayText(kStyle, "second", 0, 0);
    QueueOverlayText(kStyle, "third", 0, 0);
    // Queued after the publish: not drawn yet, and the published entry is intact.
    ASSERT_EQ(OverlayTextQueue.publishedCount, 1u);
    EXPECT_EQ(PublishedText(0), "first");

    PublishOverlayQueues();
    ASSERT_EQ(OverlayTextQueue.publishedCount, 2u);
    EXPECT_EQ(PublishedText(0), "second");
    EXPECT_EQ(PublishedText(1), "third");
    EXPECT_NE(OverlayTextQueue.Published(), firstBuffer);
    EXPECT_STREQ(firstBuffer[0].text, "first");  // still there until it is filled again

    PublishOverlayQueues();
    EXPECT_EQ(OverlayTextQueue.publishedCount, 0u);
    EXPECT_EQ(OverlayTextQueue.Published(), firstBuffer);
    EXPECT_EQ(OverlayRectQueue.publishedCount, 0u);
}

TEST_F(OverlayQueueTest, TheLimitIs65535ItemsBetweenTwoPublishes)
{
    for (std::uint32_t i = 0; i < 65537; ++i) {
        const std::string text = std::to_string(i);
        QueueOverlayText(kStyle, text.c_str(), 0, 0);
        QueueOverlayRect(0, 0, 0, 0, static_cast<std::int32_t>(i), 0, 0, 0);
    }
    EXPECT_EQ(OverlayTextQueue.fillCount, 65535u);
    EXPECT_EQ(OverlayRectQueue.fillCount, 65535u);
    PublishOverlayQueues();
    ASSERT_EQ(OverlayTextQueue.publishedCount, 65535u);
    EXPECT_EQ(PublishedText(65534), "65534");
    EXPECT_EQ(OverlayRectQueue.Published()[65534].red, 65534);

    // Room again after the publish.
    QueueOverlayText(kStyle, "again", 0, 0);
    PublishOverlayQueues();
    ASSERT_EQ(OverlayTextQueue.publishedCount, 1u);
    EXPECT_EQ(PublishedText(0), "again");
}

TEST_F(OverlayQueueTest, TextsOf512BytesOrMoreAreCutTo511)
{
    const std::string exact(511, 'a');
    const std::string over(512, 'b');
    const std::string far(5000, 'c');
    QueueOverlayText(kStyle, exact.c_str(), 0, 0);
    QueueOverlayText(kStyle, over.c_str(), 0, 0);
    QueueOverlayText(kStyle, far.c_str(), 0, 0);
    QueueOverlayText(kStyle, "", 0, 0);
    QueueOverlayText(kStyle, nullptr, 0, 0);  // ignored
    PublishOverlayQueues();
    ASSERT_EQ(OverlayTextQueue.publishedCount, 4u);
    EXPECT_EQ(PublishedText(0), exact);
    EXPECT_EQ(PublishedText(1), over.substr(0, 511));
    EXPECT_EQ(PublishedText(2), far.substr(0, 511));
    EXPECT_EQ(PublishedText(3), "");
}

TEST_F(OverlayQueueTest, TheCutNeverSplitsAUtf8Sequence)
{
    const std::string e = "\xC3\xA9";            // two bytes
    const std::string euro = "\xE2\x82\xAC";     // three bytes
    const std::string clef = "\xF0\x9D\x84\x9E";  // four bytes
    struct Case {
        std::string text;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {std::string(510, 'a') + e + "tail", 510},     // é would end at byte 512
        {std::string(509, 'a') + e + "tail", 511},     // é ends at byte 511: kept
        {std::string(509, 'a') + euro + "x", 509},
        {std::string(508, 'a') + clef + "x", 508},
        {std::string(507, 'a') + clef + "x", 511},
        {std::string(500, 'a') + std::string(20, '\x80'), 511},  // not UTF-8: plain cut
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OverlayTextCutLength(c.text.c_str()), c.expected) << c.text.size();
        QueueOverlayText(kStyle, c.text.c_str(), 0, 0);
    }
    PublishOverlayQueues();
    for (std::uint32_t i = 0; i < OverlayTextQueue.publishedCount; ++i) {
        EXPECT_EQ(PublishedText(i), cases[i].text.substr(0, cases[i].expected));
    }
}

TEST_F(OverlayQueueTest, QueueingAndPublishingNeverAllocate)
{
    const std::string longText(2000, 'x');
    const long before = Allocations();
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 70000; ++i) {
            QueueOverlayText(kStyle, i % 2 ? "short" : longText.c_str(), 0.5f, 0.5f);
            QueueOverlayRect(0.5f, 0.5f, 0.1f, 0.1f, 255, 255, 255, 255);
        }
        PublishOverlayQueues();
    }
    EXPECT_EQ(Allocations() - before, 0);

    // The counter does count (so the zero above means something).
    const long counted = Allocations();
    delete new std::string(100, 'y');
    EXPECT_GE(Allocations() - counted, 1);
}

}  // namespace
