// Baked shading: the light direction from the sun options and the colour
// of a vertex with and without the sun term.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "config/options.h"
#include "renderer/shading.h"

namespace {

struct Rgb {
    unsigned r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& out, const Rgb& c) { return out << "(" << c.r << ", " << c.g << ", " << c.b << ")"; }

Rgb Channels(std::uint32_t argb)
{
    EXPECT_EQ(argb >> 24, 0xFFu) << "alpha is always 255";
    return {(argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF};
}

// The settings map loading gives a group with the default sun options.
ShadingSettings DefaultSunShading(float globalMultiplier = 1.0f)
{
    Config::OptionsRecord options;
    DrawSettings settings;
    const float direction[3] = {1 - options.SunPos[0], 1 + options.SunPos[1], 1 - options.SunPos[2]};
    float sun[3], shadow[3];
    for (int k = 0; k < 3; ++k) {
        sun[k] = options.SunColor[k] * globalMultiplier;
        shadow[k] = options.ShadowColor[k] * globalMultiplier;
    }
    SetupGroupShading(settings, direction, 1.0f, 1.0f, options.ShadingMultiplier, sun, shadow);
    return settings.Shading;
}

TEST(GroupShading, DefaultSunGivesTheNormalisedDirection)
{
    ShadingSettings shading = DefaultSunShading();
    EXPECT_EQ(shading.ShadingEnabled, 1);
    EXPECT_NEAR(shading.LightDir[0], 0.7491095f, 1e-6);
    EXPECT_NEAR(shading.LightDir[1], 0.6609790f, 1e-6);
    EXPECT_NEAR(shading.LightDir[2], 0.0440653f, 1e-6);
    EXPECT_FLOAT_EQ(shading.ShadingMultiplier, 0.45f);
    EXPECT_EQ(shading.ColorOverride, 0u);  // left for map loading to set
}

TEST(GroupShading, ZeroDirectionFallsBackToX)
{
    DrawSettings settings;
    const float zero[3] = {0, 0, 0}, white[3] = {255, 255, 255};
    SetupGroupShading(settings, zero, 1, 1, 0.5f, white, white);
    EXPECT_EQ(settings.Shading.LightDir[0], 1.0f);
    EXPECT_EQ(settings.Shading.LightDir[1], 0.0f);
    EXPECT_EQ(settings.Shading.LightDir[2], 0.0f);
}

TEST(GroupShading, DirectionGoesThroughTheTransformAndFactorsScaleColours)
{
    DrawSettings settings;
    settings.Transform.m[0][0] = 0;  // rows swap x and y
    settings.Transform.m[0][1] = 1;
    settings.Transform.m[1][0] = 1;
    settings.Transform.m[1][1] = 0;
    const float direction[3] = {3, 4, 0}, sun[3] = {100, 50, 10}, shadow[3] = {1, 2, 3};
    SetupGroupShading(settings, direction, 2.0f, 0.5f, 0.3f, sun, shadow);
    EXPECT_FLOAT_EQ(settings.Shading.LightDir[0], 0.8f);
    EXPECT_FLOAT_EQ(settings.Shading.LightDir[1], 0.6f);
    EXPECT_EQ(settings.Shading.SunColor[0], 200.0f);
    EXPECT_EQ(settings.Shading.ShadowColor[2], 1.5f);
}

TEST(VertexColour, SunTermFacingAndTurnedAway)
{
    ShadingSettings shading = DefaultSunShading();
    const std::uint8_t white[3] = {255, 255, 255}, black[3] = {0, 0, 0};
    const float* L = shading.LightDir;
    const float away[3] = {-L[0], -L[1], -L[2]};
    EXPECT_EQ(Channels(ShadeVertexColor(shading, white, L, 1.0f, true)), (Rgb{254, 254, 254}));
    EXPECT_EQ(Channels(ShadeVertexColor(shading, white, away, 1.0f, true)), (Rgb{84, 97, 127}));
    EXPECT_EQ(Channels(ShadeVertexColor(shading, black, L, 1.0f, true)), (Rgb{59, 72, 102}));

    ShadingSettings doubled = DefaultSunShading(2.0f);
    EXPECT_EQ(Channels(ShadeVertexColor(doubled, black, L, 1.0f, true)), (Rgb{118, 144, 204}));
}

TEST(VertexColour, HostShadersHalveColoursAndOverridesReplaceThem)
{
    ShadingSettings shading;
    const std::uint8_t color[3] = {200, 100, 50};
    const float normal[3] = {0, 0, 1};
    EXPECT_EQ(Channels(ShadeVertexColor(shading, color, normal, 0.5f, false)), (Rgb{100, 50, 25}));
    EXPECT_EQ(Channels(ShadeVertexColor(shading, color, normal, 1.0f, false)), (Rgb{200, 100, 50}));
    shading.ColorOverride = 0xFFFFFFFF;  // IgnoreVertexColor: white
    EXPECT_EQ(Channels(ShadeVertexColor(shading, color, normal, 0.5f, false)), (Rgb{127, 127, 127}));
    shading.ColorOverride = 0x00102030;
    EXPECT_EQ(Channels(ShadeVertexColor(shading, color, normal, 1.0f, false)), (Rgb{0x10, 0x20, 0x30}));
}

TEST(VertexColour, NegativeResultsClampToZero)
{
    ShadingSettings shading = DefaultSunShading();
    for (float& c : shading.ShadowColor) c = -50.0f;
    const std::uint8_t white[3] = {255, 255, 255};
    const float* L = shading.LightDir;
    const float away[3] = {-L[0], -L[1], -L[2]};
    EXPECT_EQ(Channels(ShadeVertexColor(shading, white, away, 1.0f, true)), (Rgb{0, 0, 0}));
}

// The colour of one vertex exactly as the shading rule states it, one
// operation after another; the baking precomputes and reorders its work, and
// must still agree with this bit for bit.
std::uint32_t ColourByTheRule(const ShadingSettings& s, const std::uint8_t color[3], const float n[3], float scale,
                              bool shade)
{
    std::uint32_t out = 0xFF000000u;
    for (int k = 0; k < 3; ++k) {
        float channel = s.ColorOverride != 0 ? float((s.ColorOverride >> (16 - 8 * k)) & 0xFF) : float(color[k]);
        std::uint32_t b = std::uint32_t(channel * scale);
        if (shade) {
            float f = (n[0] * s.LightDir[0] + n[1] * s.LightDir[1] + n[2] * s.LightDir[2]) * s.ShadingMultiplier +
                      (1.0f - s.ShadingMultiplier);
            double x = (double(s.SunColor[k]) / 255.0) * double(f) * double(b) + double(s.ShadowColor[k]);
            if (x > 254.99)
                x = 254.99;
            else if (x < 0.001 || std::isnan(x))
                x = 0.001;
            b = std::uint32_t(x);
        }
        out |= b << (16 - 8 * k);
    }
    return out;
}

TEST(VertexColour, AgreesWithTheRuleOverManyRandomInputs)
{
    std::mt19937 random(20261207);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), colour(-300.0f, 600.0f), factor(-0.5f, 1.5f);
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), 0.0f, 254.99f, 255.0f};
    for (int round = 0; round < 2000; ++round) {
        ShadingSettings s;
        s.ColorOverride = round % 5 == 0 ? random() : 0;
        s.ShadingMultiplier = round % 97 == 3 ? odd[round % 6] : factor(random);
        for (int k = 0; k < 3; ++k) {
            s.LightDir[k] = unit(random);
            s.SunColor[k] = round % 89 == 5 ? odd[(round + k) % 6] : colour(random);
            s.ShadowColor[k] = colour(random) * 0.2f;
        }
        const float scale = round % 2 ? 0.5f : 1.0f;
        const bool shade = round % 3 != 0;
        for (int v = 0; v < 50; ++v) {
            const std::uint8_t c[3] = {std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random())};
            const float n[3] = {unit(random), unit(random), unit(random)};
            ASSERT_EQ(ShadeVertexColor(s, c, n, scale, shade), ColourByTheRule(s, c, n, scale, shade))
                << "round " << round << ", vertex " << v;
        }
    }
}

}  // namespace
