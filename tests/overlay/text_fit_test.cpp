// Shortening texts to a width with an ellipsis in the middle, measured here
// in characters (every character one unit wide) so that the expected texts
// can be written down.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "overlay/text_fit.h"

namespace {

int Measured = 0;

float CharacterCount(const char* text, void*)
{
    ++Measured;
    float count = 0;
    for (const char* p = text; *p; ++p) {
        if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::string Fit(const std::string& text, float width)
{
    char out[kFitTextLongest + 4 + 8];
    std::memset(out, '#', sizeof out);
    const std::size_t length = FitTextToWidth(text.c_str(), width, CharacterCount, nullptr, out);
    EXPECT_EQ(length, std::strlen(out));
    EXPECT_LT(length, kFitTextLongest + 4);
    for (std::size_t i = kFitTextLongest + 4; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "overrun at " << i;
    return out;
}

TEST(TextFit, KeepsAsMuchOfBothEndsAsFitsTheHeadTakingTheOddCharacter)
{
    EXPECT_EQ(Fit("abcdefghij", 7), "ab...ij");
    EXPECT_EQ(Fit("abcdefghij", 8), "abc...ij");
    EXPECT_EQ(Fit("abcdefghij", 12), "abcde...ghij");
    EXPECT_EQ(Fit("abcdefghij", 4), "a...");
    EXPECT_EQ(Fit("abcdefghij", 4.5f), "a...");
}

TEST(TextFit, AtLeastOneCharacterGoesAndNothingFittingLeavesTheEllipsis)
{
    EXPECT_EQ(Fit("abcdefghij", 100), "abcde...ghij");  // called only for texts that do not fit
    EXPECT_EQ(Fit("abcdefghij", 3), "...");
    EXPECT_EQ(Fit("abcdefghij", 2), "...");
    EXPECT_EQ(Fit("abcdefghij", -1), "...");
    EXPECT_EQ(Fit("", 10), "...");
    EXPECT_EQ(Fit("a", 10), "...");
}

TEST(TextFit, Utf8SequencesStayWhole)
{
    const std::string e = "\xC3\xA9";
    EXPECT_EQ(Fit(e + e + e + e + e, 5), e + "..." + e);
    EXPECT_EQ(Fit("a" + e + "b" + e + "c", 6), "a" + e + "...c");
    EXPECT_EQ(Fit("a" + e + "b" + e + "c", 7), "a" + e + "..." + e + "c");
}

TEST(TextFit, LongTextsFitTheBufferAndTakeLogarithmicallyManyMeasurements)
{
    const std::string text = std::string(300, 'h') + std::string(211, 't');  // 511 bytes
    Measured = 0;
    const std::string fitted = Fit(text, 510);
    // 507 characters and the ellipsis: 254 from the front, 253 from the back.
    EXPECT_EQ(fitted, std::string(254, 'h') + "..." + std::string(42, 'h') + std::string(211, 't'));
    EXPECT_LE(Measured, 12);

    // Beyond 511 bytes only the first 511 are looked at.
    const std::string longer = text + std::string(100, 'x');
    EXPECT_EQ(Fit(longer, 510), fitted);
    EXPECT_EQ(Fit(longer, 600), std::string(255, 'h') + "..." + std::string(44, 'h') +
                                    std::string(211, 't'));
}

}  // namespace
