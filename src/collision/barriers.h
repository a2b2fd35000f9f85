// Barriers: segments the host checks its objects against, made from the
// steep triangles of the collision meshes (the barrier pass, run by the
// collision build after each collision file), kept per mesh with its
// bounding sphere, and handed to the host, for one object at a time, as a
// fresh list of the segments near it. Host game thread only.
#pragma once

#include <vector>

#include "collision/collision_world.h"

namespace BulletCol {

// For every collision model not seen by an earlier pass: triangle planes,
// segments from the steep triangles, one CollisionMeshRecord per mesh with
// collision data (taking over the mesh's shape and segments); then, unless
// ShowCollisions is set, the collision models are given back (those a
// render group holds are only dropped from the list) and the list emptied.
void GenerateMeshBarriers();

// Gives back the collision models listed from `from` on (those a render
// group holds are only dropped from the list) and shortens the list there.
void GiveBackCollisionModels(std::size_t from);

// What the barrier pass computes for one mesh: the planes of its triangles
// (made when `planes` is null) and the segments of the steep ones, appended
// to `segments`. Reads only the mesh's arrays and MapTransform, so it may
// run on any thread.
void MakeMeshPlanesAndSegments(const TarnRenderer::CMesh& mesh, TrianglePlane*& planes,
                               std::vector<BarrierSegment>& segments);

// How many entries of CollisionModels earlier passes have handled: all of
// them while ShowCollisions keeps the models listed, else none (the list
// is emptied). A model listed twice is handled once per entry, so the
// records do not depend on ShowCollisions. Whoever empties the list
// resets it.
extern std::size_t BarrierPassModelsDone;

// Refills NearbyBarriers with the segments near `position` (host vector
// order): those of the meshes whose sphere, widened by 10, holds the point,
// within 5 above or below it and nearer horizontally than their length + 5;
// each twice, as stored and with its two ends swapped. Records are found
// through a grid over their map-space sphere centres, rebuilt when the
// records change, so far records cost nothing; in steady state nothing is
// allocated.
void GatherNearbyBarriers(const float position[3]);

// Refilled by every GatherNearbyBarriers; the host keeps pointers into it
// until the next call.
extern std::vector<BarrierSegment> NearbyBarriers;

// 112 zero bytes whose bounds go to the host with every barrier list.
inline constexpr std::size_t kZeroAreaSize = 112;
extern unsigned char BarrierZeroArea[kZeroAreaSize];

}  // namespace BulletCol

// The ends of the barrier detours in the host's code (host_stubs.S).
extern "C" {

// The host object the capture detour saw last; cleared by the barrier
// detour once it has served it.
extern void* CapturedHostObject;

// After the host's own barrier routine has returned for `hostObject`: in
// game-flow states above 3, with a captured object, fills the host object's
// barrier fields with the segments near the captured object (or near the
// host object itself) and clears the captured object. Never throws.
void FinishBarrierCall(void* hostObject);

}
