// Every file of fuzz/regressions (inputs that once crashed or hung a model
// reader) through the plug-in's own import, each under a time limit: the
// import returns without a crash, and whatever model comes back is finished
// and indexes only its own vertices. The renderer's own fatal error (a
// sub-mesh without normals) is its answer to such a file, not a reader's
// fault. A file added to the folder is covered without a change here.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "real_device_fixture.h"
#include "renderer/fatal_error.h"
#include "renderer/model.h"

namespace {

using namespace TarnRenderer;

constexpr auto kImportLimit = std::chrono::seconds(30);

std::vector<std::string> FilesIn(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((directory + "/*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void ObserveFatal(const std::string& message) { std::fprintf(stderr, "  fatal error: %s\n", message.c_str()); }

// Acquires the model for path; ends the program with the file's name if the
// import has not returned within kImportLimit (a reader in a loop).
CModel* AcquireWithinLimit(const std::string& path)
{
    std::promise<void> returned;
    std::thread watchdog([ended = returned.get_future(), &path] {
        if (ended.wait_for(kImportLimit) == std::future_status::ready) return;
        std::fprintf(stderr, "the import of %s has not returned after %lld s\n", path.c_str(),
                     static_cast<long long>(kImportLimit.count()));
        std::fflush(stderr);
        std::_Exit(3);
    });
    CModel* model = nullptr;
    try {
        model = AcquireModel({path});
    } catch (const FatalRendererError&) {
        // reported by ObserveFatal
    } catch (...) {
        ADD_FAILURE() << "the import of " << path << " threw";
    }
    returned.set_value();
    watchdog.join();
    return model;
}

class FuzzRegressionsTest : public RealDeviceTest {};

TEST_F(FuzzRegressionsTest, EveryInputImportsWithinItsTimeLimitWithoutACrash)
{
    const std::string directory = VORNAK_FUZZ_REGRESSIONS;
    const std::vector<std::string> names = FilesIn(directory);
    ASSERT_FALSE(names.empty()) << "no files in " << directory;

    auto previous = SetFatalErrorHandler(&ObserveFatal);
    for (const std::string& name : names) {
        // Named before the import: a crash ends the program right there.
        std::fprintf(stderr, "importing %s\n", name.c_str());
        std::fflush(stderr);
        CModel* model = AcquireWithinLimit(directory + "/" + name);
        if (!model) continue;
        EXPECT_TRUE(model->idle.load()) << name;
        for (const CMesh* mesh : model->meshes) {
            const std::uint32_t vertices = mesh->vertexCount;
            EXPECT_TRUE(std::all_of(mesh->indices.begin(), mesh->indices.end(),
                                    [vertices](std::uint32_t index) { return index < vertices; }))
                << name;
        }
        ReleaseReference(model);
    }
    SetFatalErrorHandler(previous);
}

}  // namespace
