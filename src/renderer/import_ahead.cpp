#include "renderer/import_ahead.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "renderer/fatal_error.h"

namespace TarnRenderer {

ImportAhead::ImportAhead(std::size_t workers, std::size_t limit, std::size_t byteLimit)
    : pool_(workers), limit_(limit), byteLimit_(byteLimit ? byteLimit : kDefaultByteLimit)
{
}

ImportAhead::~ImportAhead() { GiveBackUntaken(false); }

void ImportAhead::Add(ModelLoadParams params, std::function<void()> discard)
{
    params.loadAsync = true;
    params.pool = &pool_;
    params.deferFatalError = true;
    turns_.push_back({std::move(params), std::move(discard)});
}

void ImportAhead::Fill()
{
    started_.reserve(turns_.size());  // a model acquired is always kept: out of memory, nothing is
    while (started_.size() < turns_.size() && started_.size() - taken_ < limit_) {
        const std::size_t held = BytesAhead();
        peakBytes_ = std::max(peakBytes_, held);
        if (started_.size() > taken_ && held >= byteLimit_) break;
        started_.push_back(AcquireModel(turns_[started_.size()].params));
        peak_ = std::max(peak_, started_.size() - taken_);
    }
}

CModel* ImportAhead::Take()
{
    Fill();
    CModel* model = started_[taken_];
    AwaitImport(model);
    if (!model->fatalError.empty()) {
        const std::string message = model->fatalError;  // the model goes with the drain
        Drain();
        RaiseFatalRendererError(message);
    }
    return model;
}

void ImportAhead::Taken()
{
    ReleaseReference(started_[taken_]);
    started_[taken_++] = nullptr;
    Fill();
}

std::size_t ImportAhead::BytesAhead() const
{
    std::size_t bytes = 0;
    for (std::size_t i = taken_; i < started_.size(); ++i) {
        const CModel* model = started_[i];
        // Still importing: its arrays are being built. Counted once it ends.
        if (!model || !model->loadTask.Done()) continue;
        bytes += model->deviceWorkBytes.load(std::memory_order_relaxed);
        for (const CMesh* mesh : model->meshes) {
            bytes += mesh->positions.capacity() * sizeof(float) + mesh->normals.capacity() * sizeof(float) +
                     mesh->texCoords.capacity() * sizeof(float) + mesh->indices.capacity() * sizeof(std::uint32_t) +
                     mesh->colors.capacity();
        }
    }
    return bytes;
}

void ImportAhead::Drain() { GiveBackUntaken(true); }

void ImportAhead::GiveBackUntaken(bool finishDeviceWork)
{
    turns_.erase(turns_.begin() + static_cast<std::ptrdiff_t>(started_.size()), turns_.end());
    for (std::size_t i = taken_; i < started_.size(); ++i) {
        if (!started_[i]) continue;
        if (finishDeviceWork) {
            AwaitImport(started_[i]);
            if (turns_[i].discard) turns_[i].discard();
        } else {
            try {
                started_[i]->loadTask.Wait();
                if (turns_[i].discard) turns_[i].discard();
            } catch (...) {
                // The import's own failure is its model's; what the discard
                // could not give back goes with the loader's own objects.
            }
        }
        ReleaseReference(started_[i]);
        started_[i] = nullptr;
    }
    taken_ = started_.size();
}

}  // namespace TarnRenderer
