// The imports a loader needs one after another, started on a pool of their
// own ahead of the loader's walk: in the walk's order, at most `limit`
// started and not yet taken, and none started while those finished and not
// yet taken hold `byteLimit` bytes or more (their meshes' arrays and what
// they queued for the device: baked vertices, texture files, decoded
// levels), so that what the read-ahead holds is bounded by bytes whatever
// the files and however many threads import them. The walk's own turn is
// always started. Each model is acquired through the cache as the walk's own request
// would; its reference is held here until the walk has taken its own. A
// fatal error an import met is raised when its turn is taken, once no
// other import runs any more, so the walk's order decides which one ends
// the game. Render thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "renderer/model.h"
#include "renderer/task_pool.h"

namespace TarnRenderer {

class ImportAhead {
public:
    // A few large models (a 200,000-triangle member with two 2048 x 2048
    // textures holds about 40 MB until its device work is done).
    static constexpr std::size_t kDefaultByteLimit = std::size_t(48) << 20;

    // `byteLimit` 0: kDefaultByteLimit.
    ImportAhead(std::size_t workers, std::size_t limit, std::size_t byteLimit = 0);
    ~ImportAhead();  // gives back what Drain would, without device work or throwing
    ImportAhead(const ImportAhead&) = delete;
    ImportAhead& operator=(const ImportAhead&) = delete;

    // The next turn; the import runs on this pool, keeping its fatal error.
    // `discard` runs for a turn started and never taken, once its import is
    // over: for what the import's afterImport made.
    void Add(ModelLoadParams params, std::function<void()> discard = {});
    // Starts imports until as many as allowed are ahead of the walk.
    void Fill();
    // The model of the next turn, imported and with its device work done.
    CModel* Take();
    // The walk holds its own reference to the model taken last.
    void Taken();
    // Waits for every import started and not taken, discards its work and
    // gives its reference back; nothing is started afterwards.
    void Drain();

    std::size_t Turns() const { return turns_.size(); }
    std::size_t Peak() const { return peak_; }
    // The most bytes the finished turns not yet taken held when a turn was started or taken.
    std::size_t PeakBytes() const { return peakBytes_; }

private:
    struct Turn {
        ModelLoadParams params;
        std::function<void()> discard;
    };
    // Drain, or (from the destructor, also on the way out of a walk that
    // failed for want of memory) the same without the device work, which
    // allocates, and without letting an exception out: a model whose device
    // work is still queued is finished by the streaming queue and goes then.
    void GiveBackUntaken(bool finishDeviceWork);
    // What the turns started, finished and not yet taken hold now.
    std::size_t BytesAhead() const;

    TaskPool pool_;
    std::size_t limit_;
    std::size_t byteLimit_;
    std::vector<Turn> turns_;
    std::vector<CModel*> started_;  // by turn; null once given back
    std::size_t taken_ = 0;
    std::size_t peak_ = 0;
    std::size_t peakBytes_ = 0;
};

}  // namespace TarnRenderer
