#include "renderer/import_ahead.h"

#include <algorithm>
#include <string>
#include <utility>

#include "renderer/fatal_error.h"

namespace TarnRenderer {

ImportAhead::ImportAhead(std::size_t workers, std::size_t limit) : pool_(workers), limit_(limit) {}

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
