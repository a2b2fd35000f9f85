// Sharing by path: the texture and model caches, references, pending
// releases, models whose files are missing or unreadable, and where a
// large model's arrays are given back.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "memory_models.h"
#include "renderer/model.h"
#include "renderer/task_pool.h"
#include "renderer/texture.h"
#include "test_files.h"

namespace {

using namespace TarnRenderer;

bool InTextureCache(CTexture* texture)
{
    return std::find(TextureCache.begin(), TextureCache.end(), texture) != TextureCache.end();
}
bool InModelCache(CModel* model) { return std::find(ModelCache.begin(), ModelCache.end(), model) != ModelCache.end(); }

TEST(TextureCache, OnePathOneObjectAndEveryOtherSpellingItsOwn)
{
    std::size_t before = TextureCache.size();
    CTexture* first = AcquireTexture("maps\\missing.dds");
    CTexture* second = AcquireTexture("maps\\missing.dds");
    CTexture* upper = AcquireTexture("MAPS\\missing.dds");
    CTexture* slash = AcquireTexture("maps/missing.dds");
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->refCount, 2);
    EXPECT_NE(first, upper);
    EXPECT_NE(first, slash);
    EXPECT_EQ(TextureCache.size(), before + 3);
    // No device here: the file cannot load, the texture exists without data.
    ASSERT_NE(first->resource, nullptr);
    EXPECT_EQ(first->resource->texture, nullptr);
    EXPECT_EQ(first->resource->path, "maps\\missing.dds");

    for (CTexture* texture : {first, second, upper, slash}) ReleaseReference(texture);
    EXPECT_EQ(TextureCache.size(), before);
    CTexture* again = AcquireTexture("maps\\missing.dds");
    EXPECT_EQ(again->refCount, 1);
    EXPECT_TRUE(InTextureCache(again));
    ReleaseReference(again);
    EXPECT_FALSE(InTextureCache(again));
}

TEST(ModelCache, MissingAndUnreadableFilesGiveEmptyModels)
{
    TestSupport::TempDirectory dir;
    CModel* missing = AcquireModel({dir.File("none.obj")});
    EXPECT_TRUE(missing->meshes.empty());
    EXPECT_FALSE(missing->loading.load());
    EXPECT_TRUE(missing->idle.load());
    EXPECT_EQ(missing->radius, 0.0f);
    EXPECT_EQ(missing->boundsMax[0], 0.0f);
    EXPECT_EQ(LastImportError(), "Failed to open file");

    TestSupport::WriteFile(dir.File("garbage.ply"), std::string("ply\nformat nonsense\n\x01\x02\xFF", 23));
    CModel* garbage = AcquireModel({dir.File("garbage.ply")});
    EXPECT_TRUE(garbage->meshes.empty());
    EXPECT_FALSE(garbage->loading.load());
    EXPECT_EQ(LastImportError(), "Failed to read file");

    ReleaseReference(missing);
    ReleaseReference(garbage);
    EXPECT_FALSE(InModelCache(missing));
}

TEST(ModelCache, SecondAcquireSharesTheModelAndIgnoresItsDescriptor)
{
    ModelLoadParams params;
    params.path = "shared\\none.obj";
    params.textureFilter = 3;
    CModel* first = AcquireModel(params);
    params.texturePath = "other.png";
    params.textureFilter = 1;
    CModel* second = AcquireModel(params);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->refCount, 2);
    EXPECT_EQ(first->textureFilter, 3u);
    EXPECT_EQ(first->texturePath, "");
    ReleaseReference(first);
    EXPECT_TRUE(InModelCache(first));
    ReleaseReference(second);
    EXPECT_FALSE(InModelCache(second));
}

TEST(ModelCache, AModelPendingReleaseIsNeverHandedOutAgain)
{
    ModelLoadParams params;
    params.path = "pending\\none.obj";
    CModel* stale = AcquireModel(params);
    // As if its import were still running when the last reference went.
    stale->idle = false;
    ReleaseReference(stale);
    EXPECT_TRUE(stale->releasePending);
    EXPECT_TRUE(InModelCache(stale));

    CModel* fresh = AcquireModel(params);
    EXPECT_NE(fresh, stale);
    EXPECT_TRUE(InModelCache(fresh));

    stale->idle = true;  // the import has ended; the render pass repeats the release
    ReleaseReference(stale);
    EXPECT_FALSE(InModelCache(stale));
    ReleaseReference(fresh);
}

bool Committed(const void* address)
{
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(address, &info, sizeof(info)) == sizeof(info) && info.State == MEM_COMMIT;
}

float ReadAtRelease = 0;

TEST(ModelCache, ALargeModelsArraysGoBackOnThePoolAfterItsMeshes)
{
    // Megabytes of arrays, which the heap keeps in blocks of their own.
    CModel* model = TestSupport::MakeMemoryModel("large", 0, 0, 0, 1);
    CMesh* mesh = model->meshes[0];
    mesh->positions.assign(3 * 200000, 1.5f);
    mesh->indices.assign(3 * 200000, 7u);
    const float* positions = mesh->positions.data();
    // Collision data may point into the arrays: they must outlive it.
    mesh->collisionData = const_cast<float*>(positions + 3);
    mesh->collisionDataRelease = [](void* data) { ReadAtRelease = *static_cast<float*>(data); };

    // Every pool thread busy, so that nothing the unload hands over runs yet.
    TaskPool& pool = TaskPool::Shared();
    std::atomic<std::size_t> busy{0};
    std::atomic<bool> release{false};
    std::vector<TaskHandle> blockers;
    for (std::size_t i = 0; i < pool.ThreadCount(); ++i) {
        blockers.push_back(pool.Submit([&] {
            ++busy;
            while (!release) std::this_thread::yield();
        }));
    }
    while (busy < pool.ThreadCount()) std::this_thread::yield();

    ReleaseReference(model);
    EXPECT_EQ(ReadAtRelease, 1.5f);
    EXPECT_TRUE(Committed(positions)) << "the unloading thread gave the arrays back itself";

    release = true;
    for (TaskHandle& blocker : blockers) blocker.Wait();
    for (int wait = 0; wait < 500 && Committed(positions); ++wait) Sleep(10);
    EXPECT_FALSE(Committed(positions)) << "the pool never gave the arrays back";
}

}  // namespace
