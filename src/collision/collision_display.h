// The collision display, drawn by the render pass while ShowCollisions is
// set: every collision model in wireframe and every barrier segment as a
// flat blue wall, both over everything (no depth test). Render thread only.
#pragma once

// The collision models and the barrier walls of every collision mesh record.
void DrawCollisionDisplay();

// One blue triangle, corners in map space, through one reused three-vertex
// buffer pair (made on first use; a triangle is skipped when the device
// refuses them).
void DrawDebugTriangle(const float a[3], const float b[3], const float c[3]);

// Device reset: the debug triangle buffers are given back; the next
// triangle makes them again.
void ReleaseDebugTriangleBuffers();
