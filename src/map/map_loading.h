// Map loading: turns the declared map models into render groups, loading
// only the LOD models and presenting a loading-screen frame before each
// model file. Runs once, on the render thread, outside any host scene.
//
// The LOD files are imported on a pool of their own, in the order the walk
// over the entries needs them and a bounded number ahead of it (each file
// once, however many groups name it); the walk draws its frames in its
// order and waits only for the file of the entry at hand, whose device work
// it then does itself. The result is the one a load of one file after
// another gives: the same groups, models, settings and cache, and the same
// fatal error for the first file without normals in the walk's order,
// raised only once no import runs any more.
#pragma once

#include <cstddef>
#include <string>

#include "base/matrix.h"
#include "renderer/draw_settings.h"
#include "renderer/render_group.h"

// Sets MapTransform's rows (1, 0, 0), (0, -1, 0), (0, 0, 1) and MapOffset
// for the current options, leaving the fourth column as it is.
void SetMapTransform();

struct MapLoadOptions {
    // Every LOD imported on the calling thread in its turn, one after
    // another, as the map loaded before it had a pool: the measure the
    // parallel load is held to.
    bool sequential = false;
    // Threads of the loading pool; 0: one per core, at most
    // ThreadCap::kMaxPoolThreads (base/thread_cap.h).
    std::size_t workers = 0;
    // Imports started ahead of the walk at most (what they hold in memory
    // until the walk takes them); 0: two per worker.
    std::size_t maxInFlight = 0;
    // Bytes the imports finished ahead of the walk may hold (arrays, texture
    // files, decoded textures) before no more are started; 0: the read-ahead's
    // default (renderer/import_ahead.h).
    std::size_t maxBytesAhead = 0;
};

// What a load did.
struct MapLoadFigures {
    std::size_t lodFiles = 0;      // distinct LOD files imported
    std::size_t peakInFlight = 0;  // most imports started and not yet taken by the walk
    std::size_t peakBytesAhead = 0;  // most bytes those held once finished
};

// Throws std::bad_alloc with nothing of the load left behind: RenderGroups
// and the current settings as they were.
MapLoadFigures LoadMap(const MapLoadOptions& options = {});

// Gives back every group with its members and the references they hold on
// their models, so that each model, its meshes and its textures go once
// nothing else holds them; RenderGroups is left empty. Render thread, with
// no import running.
void ReleaseMap();

// A group whose first member is the given part, appended to RenderGroups;
// its LOD (when named) is imported now. Throws std::bad_alloc with nothing
// made.
RenderGroup* CreateRenderGroup(const std::string& path, const std::string& texturePath,
                               const TarnMath::CMatrix& transform, const float scale[3], const std::string& lodPath);
