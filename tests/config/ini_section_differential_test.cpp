// The parsed-once INI reader against GetPrivateProfileStringA itself, on
// hand-written files covering the quirks and on random files.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ini_section.h"
#include "random_ini.h"
#include "test_files.h"

namespace {

using namespace std::string_literals;
using TestSupport::TempDirectory;

// Compares every (section, key) answer; returns the number of mismatches.
int CompareWithPlatform(const std::string& path, const std::string& content, const std::vector<std::string>& keys)
{
    int mismatches = 0;
    for (const std::string& section : TestSupport::kIniSectionsAsked) {
        Config::IniSection parsed = Config::IniSection::Load(path, section);
        for (const std::string& key : keys) {
            std::string expected = TestSupport::PlatformIniValue(path, section, key);
            std::string actual = parsed.Get(key);
            if (expected != actual) {
                ++mismatches;
                ADD_FAILURE() << "section [" << section << "] key [" << key << "]\n  platform: ["
                              << TestSupport::EscapeIniBytes(expected) << "]\n  reader:   ["
                              << TestSupport::EscapeIniBytes(actual) << "]\nfile:\n"
                              << TestSupport::EscapeIniBytes(content);
                if (mismatches > 3) return mismatches;
            }
        }
    }
    return mismatches;
}

class IniSectionDifferentialTest : public ::testing::Test {
protected:
    std::string WriteCase(const std::string& content)
    {
        // A new name per file: the platform caches parsed files by name.
        std::string path = dir_.File("case" + std::to_string(counter_++) + ".ini");
        TestSupport::WriteFile(path, content);
        return path;
    }
    void Check(const std::string& content, const std::vector<std::string>& keys)
    {
        CompareWithPlatform(WriteCase(content), content, keys);
    }

    TempDirectory dir_;
    int counter_ = 0;
};

const std::vector<std::string> kKeys = {"Key", "key", "KEY", " Key ", "Other", "Empty", "A", "a b", "Missing", "k"};

TEST_F(IniSectionDifferentialTest, QuotesOfBothKindsMatchedAndUnmatched)
{
    Check("[Options]\nKey=\"quoted\"\nOther='single'\nA=\"unmatched\nk='mixed\"\nEmpty=\"\"\n"
          "a b=\"\n",
          kKeys);
    Check("[Options]\nKey='\nOther=\"a\"b\"\nA=\" spaced \" \nk=x\"y\"\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, WhiteSpaceAroundKeysEqualsAndValues)
{
    Check("  [Options]  \n\tKey\t=\tvalue with  inner   spaces\t \n  Other   =  v  \nA=   \n k =x= y\n"
          "a b = two words\n",
          kKeys);
    Check("[ Options ]\nKey=1\n[Options]\nKey=2\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, CommentsLinesWithoutEqualsAndEmptyValues)
{
    Check("; comment\n[Options]\n;Key=commented\n# Other=hash\nKey\nOther=\nA=set\nEmpty=\n=noname\n", kKeys);
    Check("[Options]\nKey\nKey=later\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, DuplicateKeysAndSectionsAndLetterCase)
{
    Check("[Options]\nKey=first\nKEY=second\nkey=third\n", kKeys);
    Check("[options]\nKey=lower section\n[OPTIONS]\nKey=upper\nOther=only in second\n", kKeys);
    Check("[Other]\nKey=o\n[Options]\nA=1\n[Other]\nOther=2\n[Options]\nKey=late\n", kKeys);
    Check("[Opt]ions]\nKey=1\n[Options]x\nKey=2\n[Options\nKey=3\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, ValuesAroundTheBufferSize)
{
    for (std::size_t length : {254u, 255u, 256u, 257u, 258u, 300u}) {
        std::string value(length, 'v');
        value.back() = 'E';
        std::string quoted = "\"" + std::string(length - 2, 'q') + "\"";
        std::string single = "'" + std::string(length - 2, 's') + "'";
        Check("[Options]\nKey=" + value + "\nOther=" + quoted + "\nA=" + single + "\n", kKeys);
    }
}

TEST_F(IniSectionDifferentialTest, LineEndsByteOrderMarkAndHighBytes)
{
    Check("[Options]\r\nKey=crlf\r\nOther=x\r\n", kKeys);
    Check("[Options]\rKey=cr only\rOther=x\r", kKeys);
    Check("[Options]\rKey=cr then\nOther=lf\n", kKeys);
    Check("[Options]\nKey=lf then\rOther=cr\r", kKeys);
    Check("\xEF\xBB\xBF[Options]\nKey=bom \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\nOther=\xFF\xFE\n", kKeys);
    Check("\xEF\xBB\xBF" "Key=before section\n[Options]\nOther=1\n", kKeys);
    Check("[Options]\nKey=caf\xE9 \x80\x81\x8D\x9D\xA0\xFF\nOther=\xA0value\xA0\nA\xE9=1\n", kKeys);
    Check("[Options]\nKey=\x1A" "ctrlz\x1A\nOther=a\x00" "b\nA=\x00\nk=v  \x00  \n"s, kKeys);
    // A broken sequence just before the file's last line end swallows it.
    Check("\xEF\xBB\xBF[Options]\nKey=.\x80\t\xE9\n", kKeys);
    Check("\xEF\xBB\xBFOther=3-32'\xFFX#\xE9\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, KeysBeforeTheFirstSectionAndEmptyFiles)
{
    Check("Key=before\nOther=also\n[Options]\nA=1\n", kKeys);
    Check("", kKeys);
    Check("\n\n\r\n", kKeys);
    Check("[Options]", kKeys);
    Check("Key=no newline at end", kKeys);
    CompareWithPlatform(dir_.File("does-not-exist.ini"), "(missing)", kKeys);
}

TEST_F(IniSectionDifferentialTest, Utf16Files)
{
    auto utf16 = [](const std::wstring& text, bool bigEndian) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (wchar_t c : text) {
            char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
            bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return bytes;
    };
    std::wstring text = L"[Options]\r\nKey=wide \u00e9\u20ac\r\nOther = \"q\"\r\n";
    Check(utf16(text, false), kKeys);
    Check(utf16(text, true), kKeys);
}

TEST_F(IniSectionDifferentialTest, RandomFiles)
{
    int failures = 0;
    for (unsigned seed = 1; seed <= 300 && failures < 3; ++seed) {
        std::string content = TestSupport::RandomIniWriter(seed).File();
        if (CompareWithPlatform(WriteCase(content), content, TestSupport::kRandomIniKeysAsked) > 0) {
            ++failures;
            ADD_FAILURE() << "random file with seed " << seed;
        }
    }
}

}  // namespace
