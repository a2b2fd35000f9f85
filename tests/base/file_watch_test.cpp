// The watch that tells the LiveReload option which files an author saved.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "base/file_watch.h"
#include "test_files.h"

namespace {

using Strings = std::vector<std::string>;

// Editors that save in two writes (the file grows, then is complete) and
// editors that keep the file open while they write: the change is
// reported once, after the file has stood still for a poll and nobody holds
// it for writing; a file deleted and written again (a save through a
// temporary file) is reported once it is back. Files not changed are never
// reported, and a file no longer listed is forgotten.
TEST(FileWatchTest, ASaveIsReportedOnceWhenTheEditorIsDoneWithTheFile)
{
    TestSupport::TempDirectory dir;
    const std::string model = dir.File("m.obj"), other = dir.File("o.obj");
    TestSupport::WriteFile(model, "v 0 0 0\n");
    TestSupport::WriteFile(other, "v 1 1 1\n");
    Files::FileWatch watch;
    watch.Watch({model, other});
    EXPECT_EQ(watch.Poll(), Strings{});

    TestSupport::WriteFile(model, "v 0 0 0\nv 1 0 0\n");  // the first of two writes
    EXPECT_EQ(watch.Poll(), Strings{}) << "changed since the last poll: maybe not done";
    TestSupport::WriteFile(model, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    EXPECT_EQ(watch.Poll(), Strings{});
    EXPECT_EQ(watch.Poll(), Strings{model});
    EXPECT_EQ(watch.Poll(), Strings{});

    // Held open for writing across polls, as an exporter writing a large file.
    HANDLE writer = CreateFileA(model.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, "v 2 2 2\n", 8, &written, nullptr));
    for (int poll = 0; poll < 3; ++poll) EXPECT_EQ(watch.Poll(), Strings{}) << "poll " << poll;
    CloseHandle(writer);
    Strings done = watch.Poll();
    if (done.empty()) done = watch.Poll();  // closing may stamp the file once more
    EXPECT_EQ(done, Strings{model});
    EXPECT_EQ(watch.Poll(), Strings{});

    // Saved through a temporary file: gone for a moment, then back.
    ASSERT_TRUE(DeleteFileA(other.c_str()));
    EXPECT_EQ(watch.Poll(), Strings{});
    EXPECT_EQ(watch.Poll(), Strings{});
    TestSupport::WriteFile(other, "v 3 3 3\nv 4 4 4\n");
    watch.Poll();
    EXPECT_EQ(watch.Poll(), Strings{other});

    watch.Watch({other});
    EXPECT_EQ(watch.Count(), 1u);
    TestSupport::WriteFile(model, "changed while no longer watched, longer than before\n");
    watch.Poll();
    EXPECT_EQ(watch.Poll(), Strings{});
}

}  // namespace
