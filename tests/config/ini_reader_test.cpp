#include <windows.h>

#include "config/config_keys.h"
#include "config_fixture.h"

namespace {

TEST(IniConversion, IntegersFollowStoi)
{
    EXPECT_EQ(Config::ParseIniInt("1"), 1);
    EXPECT_EQ(Config::ParseIniInt("  -17xyz"), -17);
    EXPECT_EQ(Config::ParseIniInt("+8"), 8);
    EXPECT_EQ(Config::ParseIniInt("0x5"), 0);
    EXPECT_EQ(Config::ParseIniInt("1.9"), 1);
    EXPECT_EQ(Config::ParseIniInt("2147483647"), 2147483647);
    EXPECT_EQ(Config::ParseIniInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(Config::ParseIniInt("2147483648"), std::nullopt);
    EXPECT_EQ(Config::ParseIniInt("true"), std::nullopt);
    EXPECT_EQ(Config::ParseIniInt(""), std::nullopt);
    EXPECT_EQ(Config::ParseIniInt("-"), std::nullopt);
}

TEST(IniConversion, FloatsFollowStof)
{
    EXPECT_EQ(Config::ParseIniFloat("0.45"), 0.45f);
    EXPECT_EQ(Config::ParseIniFloat(" 1e3m"), 1000.0f);
    EXPECT_EQ(Config::ParseIniFloat("0,5"), 0.0f);
    EXPECT_EQ(Config::ParseIniFloat("-.5"), -0.5f);
    EXPECT_EQ(Config::ParseIniFloat("1e39"), std::nullopt);
    EXPECT_EQ(Config::ParseIniFloat("abc"), std::nullopt);
    EXPECT_EQ(Config::ParseIniFloat("."), std::nullopt);
}

TEST_F(ConfigTest, GamePathJoinsWithOneBackslash)
{
    EXPECT_EQ(Config::MakeGamePath("a.ini"), dir_.Path() + "\\a.ini");
    std::memset(Startup::GameDirectory, 0, sizeof(Startup::GameDirectory));
    EXPECT_EQ(Config::MakeGamePath("a.ini"), "\\a.ini");
    EXPECT_EQ(Config::MakeGamePath("\\x\\b.ini"), "\\\\x\\b.ini");
}

TEST_F(ConfigTest, StringReaderReturnsItsOwnBufferAndCutsAt255)
{
    WriteGameFile("f.ini", "[Options]\nMapPath=first\nLoadTrack_CarName=second\nMapModel0Path=" +
                               std::string(300, 'x') + "\nDrawDistance=\n[Other]\nMapPath=o\n");
    Config::ConfigPath = dir_.File("f.ini");
    const std::string* first = Config::ReadIniString("MapPath");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(*first, "first");
    const std::string* second = Config::ReadIniString("LoadTrack_CarName");
    EXPECT_EQ(first, second);
    EXPECT_EQ(*first, "second");
    EXPECT_EQ(*Config::ReadIniString("MapModel0Path"), std::string(255, 'x'));
    EXPECT_EQ(Config::ReadIniString("DrawDistance"), nullptr);
    EXPECT_EQ(Config::ReadIniString("MapModel1Path"), nullptr);
    EXPECT_EQ(*Config::ReadIniString("MapPath", "Other"), "o");

    bool flag = true;
    float number = 2.0f;
    Config::ReadIniBool("DrawDistance", flag);
    Config::ReadIniFloat("DrawDistance", number);
    EXPECT_TRUE(flag);
    EXPECT_EQ(number, 2.0f);
}

TEST(ConfigKeys, SystemKeysAreTheOptionsAndTheMapKeysInRange)
{
    for (const wchar_t* key : {L"drawdistance", L"mappath", L"mapoffsetz", L"loadtrack_carname", L"mapmodel0path",
                               L"mapmodel8191path", L"mapmodel12texturepath", L"mapmodel3lodpath", L"mapmodel1path255",
                               L"mapmodel1texturepath0", L"mapcollision8191path", L"mapmodel10path10"}) {
        EXPECT_TRUE(Config::IsSystemKey(key)) << key;
    }
    for (const wchar_t* key : {L"mapmodel8192path", L"mapmodel01path", L"mapmodel1path256", L"mapmodel1path01",
                               L"mapmodelpath", L"mapmodel1lodpath0", L"mapcollision1path0", L"mapcollision-1path",
                               L"mapmodel1", L"drawdistance2", L"", L"mapmodel99999999999path"}) {
        EXPECT_FALSE(Config::IsSystemKey(key)) << key;
    }
}

}  // namespace
