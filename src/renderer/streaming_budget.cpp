#include "renderer/streaming_budget.h"

#include <d3d9.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/host_view.h"
#include "base/retry_policy.h"
#include "config/options.h"
#include "renderer/model.h"
#include "renderer/shading.h"
#include "renderer/task_pool.h"
#include "renderer/texture.h"
#include "renderer/texture_decode.h"

#include <d3dx9tex.h>

namespace TarnRenderer {

StreamingTotals StreamingCounters;
void (*StreamingStepHook)(const CModel* model) = nullptr;

namespace {

using Clock = std::chrono::steady_clock;

// Bytes written into a buffer per step: a small fraction of a millisecond
// of copying, so that steps fill a budget closely.
constexpr std::size_t kSliceBytes = 256 * 1024;
// The buffers RebuildMeshBuffers makes.
constexpr DWORD kUsage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;

// Each buffer and texture is made in a step of its own: a device may clear
// its memory then. A texture decoded on the pool is copied into a
// system-memory texture a band of rows at a time and handed to the device
// in one UpdateTexture, as D3DX does; one that was not decoded is made by
// D3DX in one step.
enum class Stage { CreateVertexBuffer, FillVertices, CreateIndexBuffer, FillIndices, Texture, TextureBands, Done };
enum StepKind { kBufferStep, kFillStep, kTextureStep, kBandStep, kCreateTextureStep, kStepKinds };

struct MeshWork {
    CMesh* mesh = nullptr;
    std::vector<MapVertex> vertices;  // baked on the pool; empty when that failed
    bool textureRead = false;
    std::string textureBytes;  // the texture file, read on the pool
    std::unique_ptr<DecodedTexture> decoded;  // its levels, when decoded on the pool
    IDirect3DTexture9* made = nullptr;        // being filled from `decoded`
    IDirect3DTexture9* staging = nullptr;     // system memory, filled band by band, then copied into `made`
    UINT level = 0, row = 0;                  // the next band
    MeshBuffers* record = nullptr;
    Stage stage = Stage::CreateVertexBuffer;
    std::size_t filled = 0;  // bytes of the current buffer written
    // Where the steps had got to when a device reset took the objects they
    // had made: the restore step makes them again up to here.
    struct Progress {
        Stage stage;
        std::size_t filled;
        UINT level, row;
    };
    bool resume = false;
    Progress resumeAt{};
    Progress Now() const { return {stage, filled, level, row}; }
};

// Whether a mesh's steps have got back to where they were at the reset (or
// past it, which a failed call can make them skip to).
bool Reached(const MeshWork& mesh)
{
    const MeshWork::Progress& at = mesh.resumeAt;
    if (mesh.stage != at.stage) return mesh.stage > at.stage;
    if (mesh.stage == Stage::TextureBands) return mesh.level != at.level ? mesh.level > at.level : mesh.row >= at.row;
    return mesh.filled >= at.filled;
}

struct ModelWork {
    CModel* model = nullptr;
    std::vector<MeshWork> meshes;
    Retry::State retry;  // steps that ran out of memory, in a row
};

// Models queued by the pool, not yet seen by the render thread.
std::mutex IncomingLock;
std::condition_variable IncomingAdded;
std::vector<std::unique_ptr<ModelWork>> Incoming;

// The render thread's queue, oldest first; WorkLock guards it and every
// step, so a waiting thread other than the render thread (collision
// building) never runs steps at the same time.
std::mutex WorkLock;
std::vector<std::unique_ptr<ModelWork>> Queue;

// What a step of each kind costs, in milliseconds per byte, learned as the
// steps run: a dearer step raises it at once, cheaper ones lower it slowly,
// so that a forecast errs on the side of waiting for the next frame.
double MsPerByte[kStepKinds] = {1e-6, 1e-6, 1e-5, 2e-6, 1e-6};
double LongestMs[kStepKinds] = {};

void TakeIncoming()
{
    std::lock_guard<std::mutex> guard(IncomingLock);
    for (auto& work : Incoming) Queue.push_back(std::move(work));
    Incoming.clear();
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = size > 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        try {
            bytes.resize(static_cast<std::size_t>(size));
            ok = std::fread(&bytes[0], 1, bytes.size(), file) == bytes.size();
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    std::fclose(file);
    if (!ok) std::string().swap(bytes);
    return ok;
}

bool TextureCached(const std::string& path)
{
    std::lock_guard<std::mutex> guard(TextureCacheLock);
    return std::any_of(TextureCache.begin(), TextureCache.end(),
                       [&](const CTexture* texture) { return texture->path == path; });
}

MeshWork* CurrentMesh(ModelWork& work)
{
    for (MeshWork& mesh : work.meshes) {
        if (mesh.stage != Stage::Done) return &mesh;
    }
    return nullptr;
}

std::size_t VertexBytes(const CMesh& mesh) { return std::size_t(mesh.vertexCount) * sizeof(MapVertex); }
std::size_t IndexBytes(const CMesh& mesh) { return std::size_t(mesh.indexCount) * 4; }

void DropBuffers(MeshBuffers* record)
{
    if (record->vertexBuffer) record->vertexBuffer->Release();
    if (record->indexBuffer) record->indexBuffer->Release();
    record->vertexBuffer = nullptr;
    record->indexBuffer = nullptr;
}

// The device refused a buffer or its lock: the mesh goes on to its texture
// without buffers, which is its first try at them; the draw makes them
// again as the retry policy allows (renderer/remake.h).
void BuffersRefused(MeshWork& work)
{
    DropBuffers(work.record);
    Retry::NoteFailure(work.mesh->remakeRetry);
}

// Rows of the top level that make one band of about a slice.
UINT BandRows(const DecodedTexture& texture)
{
    return std::max<UINT>(1, std::min<UINT>(texture.height, UINT(kSliceBytes / texture.Pitch(0))));
}

void DropTextureWork(MeshWork& work)
{
    if (work.made) work.made->Release();
    if (work.staging) work.staging->Release();
    work.made = nullptr;
    work.staging = nullptr;
    work.level = work.row = 0;
}

void FinishMesh(MeshWork& work, CTexture* texture)
{
    if (!work.mesh->texture) work.mesh->texture = texture;
    if (work.textureBytes.capacity() > 0) FreeOnPool(std::exchange(work.textureBytes, std::string()));
    if (work.decoded) FreeOnPool(std::move(work.decoded));
    work.mesh->buffers = work.record;
    work.stage = Stage::Done;
}

// The texture as D3DX makes it from the file read on the pool, in one step.
void MakeTextureAtOnce(MeshWork& work)
{
    const char* path = work.mesh->textureFile.c_str();
    DropTextureWork(work);
    work.stage = Stage::Texture;  // where the step starts again when the cache has no memory for it
    if (!work.textureRead) {
        FinishMesh(work, AcquireTexture(path));
        return;
    }
    bool refused = false;
    IDirect3DTexture9* made = LoadTextureBytes(work.textureBytes, &refused);
    FinishMesh(work, AcquireMadeTexture(path, made, refused));
}

// The first step of a decoded texture: D3DX's own check of what the device
// makes of the image, then the texture and its system-memory twin. Whatever differs from
// what the pool decoded for goes to D3DX after all.
void StartDecodedTexture(MeshWork& work)
{
    const DecodedTexture& decoded = *work.decoded;
    IDirect3DDevice9* device = HostGame::Device();
    UINT width = decoded.width, height = decoded.height, levels = D3DX_DEFAULT;
    D3DFORMAT format = decoded.imageFormat;
    if (!device || FAILED(D3DXCheckTextureRequirements(device, &width, &height, &levels, 0, &format,
                                                       D3DPOOL_DEFAULT))) {
        // D3DX asks the same first and fails with it: no texture, as a load gives.
        FinishMesh(work, AcquireMadeTexture(work.mesh->textureFile.c_str(), nullptr));
        return;
    }
    if (width != decoded.width || height != decoded.height || levels != decoded.levels.size() ||
        format != decoded.format ||
        FAILED(device->CreateTexture(width, height, levels, 0, format, D3DPOOL_DEFAULT, &work.made, nullptr)) ||
        !work.made ||
        FAILED(device->CreateTexture(width, height, levels, 0, format, D3DPOOL_SYSTEMMEM, &work.staging, nullptr)) ||
        !work.staging) {
        MakeTextureAtOnce(work);
        return;
    }
    work.level = work.row = 0;
    work.stage = Stage::TextureBands;
}

// One band of rows of one level into the system-memory texture; after the
// last, the whole texture onto the device in one call.
void CopyTextureBand(MeshWork& work)
{
    const DecodedTexture& decoded = *work.decoded;
    const UINT rows = std::min(BandRows(decoded), decoded.LevelHeight(work.level) - work.row);
    if (!CopyDecodedRows(work.staging, decoded, work.level, work.row, rows)) {
        MakeTextureAtOnce(work);
        return;
    }
    work.row += rows;
    if (work.row < decoded.LevelHeight(work.level)) return;
    work.row = 0;
    if (++work.level < decoded.levels.size()) return;
    if (FAILED(HostGame::Device()->UpdateTexture(work.staging, work.made))) {
        MakeTextureAtOnce(work);
        return;
    }
    IDirect3DTexture9* made = work.made;
    work.made = nullptr;
    DropTextureWork(work);
    work.stage = Stage::Texture;  // as in MakeTextureAtOnce
    FinishMesh(work, AcquireMadeTexture(work.mesh->textureFile.c_str(), made));
}

// The kind and size of the next step of `mesh`, for the budget's forecast.
std::pair<StepKind, std::size_t> NextStep(const MeshWork& mesh)
{
    switch (mesh.stage) {
    case Stage::CreateVertexBuffer: return {kBufferStep, VertexBytes(*mesh.mesh)};
    case Stage::CreateIndexBuffer: return {kBufferStep, IndexBytes(*mesh.mesh)};
    case Stage::FillVertices:
        if (mesh.vertices.empty()) return {kFillStep, VertexBytes(*mesh.mesh)};  // baked here in one go
        return {kFillStep, std::min(kSliceBytes, VertexBytes(*mesh.mesh) - mesh.filled)};
    case Stage::FillIndices: return {kFillStep, std::min(kSliceBytes, IndexBytes(*mesh.mesh) - mesh.filled)};
    case Stage::TextureBands: {
        const DecodedTexture& texture = *mesh.decoded;
        return {kBandStep, std::size_t(BandRows(texture)) * texture.Pitch(mesh.level)};
    }
    default:
        if (mesh.decoded) return {kCreateTextureStep, mesh.decoded->levels[0].size()};
        // A file the pool could not read is not there: D3DX fails on it at once.
        return {kTextureStep, mesh.textureBytes.size()};
    }
}

// Writes the next slice of one buffer; false (and the mesh left without
// drawable buffers, as RebuildMeshBuffers leaves it) when a Lock fails.
template <class Buffer>
bool FillSlice(Buffer* buffer, const void* source, std::size_t total, std::size_t& filled)
{
    const std::size_t length = std::min(kSliceBytes, total - filled);
    void* target = nullptr;
    const DWORD flags = filled == 0 ? D3DLOCK_DISCARD : D3DLOCK_NOOVERWRITE;
    if (FAILED(buffer->Lock(static_cast<UINT>(filled), static_cast<UINT>(length), &target, flags)) || !target) {
        return false;
    }
    std::memcpy(target, static_cast<const unsigned char*>(source) + filled, length);
    buffer->Unlock();
    filled += length;
    return true;
}

void RunMeshStep(MeshWork& work)
{
    CMesh& mesh = *work.mesh;
    switch (work.stage) {
    case Stage::CreateVertexBuffer: {
        if (!work.record) work.record = new MeshBuffers{nullptr, nullptr, mesh.vertexCount, mesh.faceCount, &mesh};
        work.stage = Stage::Texture;
        work.filled = 0;
        IDirect3DDevice9* device = HostGame::Device();
        if (!device || mesh.vertexCount == 0 || mesh.indexCount == 0) return;
        if (FAILED(device->CreateVertexBuffer(static_cast<UINT>(VertexBytes(mesh)), kUsage, kMapVertexFvf,
                                              D3DPOOL_DEFAULT, &work.record->vertexBuffer, nullptr)) ||
            !work.record->vertexBuffer) {
            BuffersRefused(work);
            return;
        }
        work.stage = Stage::FillVertices;
        return;
    }
    case Stage::CreateIndexBuffer: {
        IDirect3DDevice9* device = HostGame::Device();
        work.stage = Stage::Texture;
        work.filled = 0;
        if (!device ||
            FAILED(device->CreateIndexBuffer(static_cast<UINT>(IndexBytes(mesh)), kUsage, D3DFMT_INDEX32,
                                             D3DPOOL_DEFAULT, &work.record->indexBuffer, nullptr)) ||
            !work.record->indexBuffer) {
            BuffersRefused(work);
            return;
        }
        work.stage = Stage::FillIndices;
        return;
    }
    case Stage::FillVertices: {
        IDirect3DVertexBuffer9* buffer = work.record->vertexBuffer;
        bool ok;
        if (work.vertices.empty()) {  // the pool could not bake: bake into the buffer
            void* target = nullptr;
            ok = SUCCEEDED(buffer->Lock(0, 0, &target, D3DLOCK_DISCARD)) && target;
            if (ok) {
                BakeMeshVertices(mesh, static_cast<MapVertex*>(target));
                buffer->Unlock();
                work.filled = VertexBytes(mesh);
            }
        } else {
            ok = FillSlice(buffer, work.vertices.data(), VertexBytes(mesh), work.filled);
        }
        if (!ok) {
            BuffersRefused(work);
            work.stage = Stage::Texture;
        } else if (work.filled == VertexBytes(mesh)) {
            work.stage = Stage::CreateIndexBuffer;
        }
        return;
    }
    case Stage::FillIndices:
        if (!FillSlice(work.record->indexBuffer, mesh.indices.data(), IndexBytes(mesh), work.filled)) {
            BuffersRefused(work);
            work.stage = Stage::Texture;
        } else if (work.filled == IndexBytes(mesh)) {
            work.stage = Stage::Texture;
        }
        return;
    case Stage::Texture:
        // A mesh whose buffers are made again after a device reset has its
        // texture; a texture cached meanwhile is only referenced.
        if (mesh.texture) {
            FinishMesh(work, nullptr);
        } else if (TextureCached(mesh.textureFile)) {
            FinishMesh(work, AcquireTexture(mesh.textureFile.c_str()));
        } else if (!work.decoded) {
            MakeTextureAtOnce(work);
        } else {
            StartDecodedTexture(work);
        }
        return;
    case Stage::TextureBands: CopyTextureBand(work); return;
    case Stage::Done: return;
    }
}

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs one step of the model's first unfinished mesh, learning its cost;
// true once the model has no step left.
bool RunModelStep(ModelWork& work)
{
    MeshWork* mesh = CurrentMesh(work);
    if (mesh) {
        const auto [kind, bytes] = NextStep(*mesh);
        const auto start = Clock::now();
        if (StreamingStepHook) StreamingStepHook(work.model);
        RunMeshStep(*mesh);
        const double taken = MillisecondsSince(start);
        if (bytes > 0) MsPerByte[kind] = std::max(0.8 * MsPerByte[kind], taken / double(bytes));
        LongestMs[kind] = std::max(LongestMs[kind], taken);
        ++StreamingCounters.steps;
        work.retry = {};
    }
    return CurrentMesh(work) == nullptr;
}

using WorkAt = std::vector<std::unique_ptr<ModelWork>>::iterator;

void FinishModel(WorkAt at)
{
    CModel* model = (*at)->model;
    FreeOnPool(std::move(*at));  // the staged vertices go with it
    Queue.erase(at);
    FinishImport(model);
}

// A mesh whose steps are given up keeps what they made whole: its buffers
// once both are filled, no texture before its own step ended. What it
// lacks is not made again when it is drawn either, until a device reset.
void FinishMeshAsItIs(MeshWork& mesh)
{
    DropTextureWork(mesh);
    if (mesh.record && mesh.stage < Stage::Texture) DropBuffers(mesh.record);
    FinishMesh(mesh, nullptr);
    Retry::GiveUp(mesh.mesh->remakeRetry);
}

// A step of the model at `at` ran out of memory, having made nothing it
// keeps. It runs again once the policy's pause is over; after the last try
// the model is given up and finished as it is, as the design finishes a
// model whose device objects failed. True when it was.
bool StepRanOutOfMemory(WorkAt at)
{
    ModelWork& work = **at;
    if (Retry::NoteFailure(work.retry)) return false;
    Retry::NoteGivenUp(work.model->path);
    for (MeshWork& mesh : work.meshes) {
        if (mesh.stage != Stage::Done) FinishMeshAsItIs(mesh);
    }
    FinishModel(at);
    return true;
}

}  // namespace

LongestSteps LongestStepsSoFar()
{
    std::lock_guard<std::mutex> guard(WorkLock);
    return {std::max(LongestMs[kBufferStep], LongestMs[kCreateTextureStep]), LongestMs[kFillStep],
            LongestMs[kTextureStep], LongestMs[kBandStep]};
}

void QueueDeviceWork(CModel* model)
{
    auto work = std::make_unique<ModelWork>();
    work->model = model;
    work->meshes.resize(model->meshes.size());
    for (std::size_t i = 0; i < model->meshes.size(); ++i) {
        MeshWork& mesh = work->meshes[i];
        mesh.mesh = model->meshes[i];
        if (mesh.mesh->buffers) {  // built already: nothing to do for it
            mesh.stage = Stage::Done;
            continue;
        }
        try {
            mesh.vertices.resize(mesh.mesh->vertexCount);
            BakeMeshVertices(*mesh.mesh, mesh.vertices.data());
        } catch (const std::bad_alloc&) {
            std::vector<MapVertex>().swap(mesh.vertices);  // the render thread bakes it then
        }
        // A texture already cached is only referenced: its file is not read.
        if (!TextureCached(mesh.mesh->textureFile)) {
            mesh.textureRead = ReadWholeFile(mesh.mesh->textureFile, mesh.textureBytes);
            auto decoded = std::make_unique<DecodedTexture>();
            try {
                if (mesh.textureRead && DecodeTextureFile(mesh.textureBytes, *decoded)) mesh.decoded = std::move(decoded);
            } catch (const std::bad_alloc&) {
                // left to D3DX on the render thread
            }
        }
    }
    std::size_t bytes = 0;
    for (const MeshWork& mesh : work->meshes) {
        bytes += mesh.vertices.capacity() * sizeof(MapVertex) + mesh.textureBytes.capacity();
        if (mesh.decoded) {
            for (const auto& level : mesh.decoded->levels) bytes += level.capacity();
        }
    }
    model->deviceWorkBytes.store(bytes, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> guard(IncomingLock);
        Incoming.push_back(std::move(work));
    }
    IncomingAdded.notify_all();
}

StreamingFrame RunStreamingWork()
{
    StreamingFrame frame;
    std::lock_guard<std::mutex> guard(WorkLock);
    TakeIncoming();
    const double budget = Config::Options.StreamingBudgetMs;
    const auto start = Clock::now();
    // A model waiting out a pause after running out of memory keeps its
    // place and lets the ones behind it go on.
    for (std::size_t at = 0; at < Queue.size();) {
        ModelWork& work = *Queue[at];
        if (!Retry::Due(work.retry)) {
            ++at;
            continue;
        }
        if (MeshWork* mesh = CurrentMesh(work); mesh && budget > 0 && frame.steps > 0) {
            const auto [kind, bytes] = NextStep(*mesh);
            if (MillisecondsSince(start) + MsPerByte[kind] * double(bytes) > budget) {
                frame.workLeft = true;
                break;
            }
        }
        ++frame.steps;
        bool finished;
        try {
            finished = RunModelStep(work);
        } catch (const std::bad_alloc&) {
            // Memory is short this frame: the rest waits for the next one,
            // and this frame still draws what is done.
            if (StepRanOutOfMemory(Queue.begin() + at)) {
                ++frame.modelsFinished;
            } else {
                frame.workLeft = true;
            }
            break;
        }
        if (finished) {
            FinishModel(Queue.begin() + at);
            ++frame.modelsFinished;
        }
    }
    frame.milliseconds = MillisecondsSince(start);
    if (frame.workLeft) ++StreamingCounters.framesWithWorkLeft;
    return frame;
}

bool FinishQueuedModel(CModel* model)
{
    std::lock_guard<std::mutex> guard(WorkLock);
    TakeIncoming();
    auto at = std::find_if(Queue.begin(), Queue.end(), [&](const auto& work) { return work->model == model; });
    if (at == Queue.end()) return false;
    // A model whose steps ran out of memory before is not waited for: it is
    // finished by the frames after its pause, or given up.
    if ((*at)->retry.Failed()) return true;
    try {
        while (!RunModelStep(**at)) {
        }
    } catch (const std::bad_alloc&) {
        StepRanOutOfMemory(at);
        return true;
    }
    FinishModel(at);
    return true;
}

void WaitForQueuedWork(int milliseconds)
{
    std::unique_lock<std::mutex> guard(IncomingLock);
    IncomingAdded.wait_for(guard, std::chrono::milliseconds(milliseconds), [] { return !Incoming.empty(); });
}

void ReleaseQueuedDeviceWork()
{
    std::lock_guard<std::mutex> guard(WorkLock);
    unsigned released = 0;
    auto count = [&released](const void* object) { released += object != nullptr; };
    for (auto& work : Queue) {
        for (MeshWork& mesh : work->meshes) {
            const bool holds = mesh.made || mesh.staging ||
                               (mesh.record && (mesh.record->vertexBuffer || mesh.record->indexBuffer));
            if (holds && !mesh.resume) {
                mesh.resume = true;
                mesh.resumeAt = mesh.Now();
            }
            count(mesh.made);
            count(mesh.staging);
            DropTextureWork(mesh);
            if (mesh.stage == Stage::TextureBands) mesh.stage = Stage::Texture;
            if (!mesh.record) continue;  // nothing made yet
            count(mesh.record->vertexBuffer);
            count(mesh.record->indexBuffer);
            DropBuffers(mesh.record);
            mesh.stage = Stage::CreateVertexBuffer;
            mesh.filled = 0;
        }
    }
    StreamingCounters.releasedHalfMade += released;
}

void RestoreQueuedDeviceWork()
{
    std::lock_guard<std::mutex> guard(WorkLock);
    for (auto& work : Queue) {
        for (MeshWork& mesh : work->meshes) {
            if (!mesh.resume) continue;
            mesh.resume = false;
            while (mesh.stage != Stage::Done && !Reached(mesh)) RunMeshStep(mesh);
        }
    }
}

}  // namespace TarnRenderer
