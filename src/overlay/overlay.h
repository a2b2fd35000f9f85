// The overlay: draws the published items of the two overlay queues
// (overlay_queues.h) over the host's picture, straight into Dear ImGui's
// foreground draw list, rendered by Dear ImGui's Direct3D 9 back-end on the
// host's own device. It builds no Dear ImGui windows and takes no input: no
// window procedure is hooked, only the Win32 back-end's per-frame polling
// runs (with Dear ImGui's configuration flags as it defaults them).
//
// W and H are the host window's rectangle (GetWindowRect of the window at
// the host's window address), truncated to whole numbers. Positions are
// fractions of W and H. The base text size is trunc(H / 1440 * 25) pixels;
// an item's text size is trunc(base * scale).
//
// Producers call, in the same host frame and on the host's render thread:
// any queue operations, PublishOverlayQueues, then DrawOverlayFrame.
#pragma once

#include "overlay/overlay_queues.h"

// Draws the published rectangles, then the published texts, in queue order,
// as one Dear ImGui frame rendered in one draw-data submission. Draws inside
// whatever scene the caller has open; never begins or ends a scene or
// presents.
//
// The first call with anything published creates the overlay: the Dear
// ImGui context (dark style, no settings or log file), the Win32 back-end
// bound to the host's window, the Direct3D 9 back-end bound to the host's
// device, and the embedded font at 64 pixels as the default font. Without a
// host device or window it does nothing and tries again next time.
//
// One frame adds at most 2^21 vertices (four per rectangle and per glyph of
// each text and outline copy); items that would go beyond are left out of
// that frame, so that full queues of long texts cannot exhaust the host's
// memory.
//
// A text is drawn as it is at its anchor: one wider than the room the
// anchor leaves inside the window runs past the window's edge.
void DrawOverlayFrame();

// The text's width at `scale` as a fraction of W; 1.0 while the overlay has
// no context or no current font, or the host window has no size.
float MeasureOverlayText(const char* text, float scale);

// Device reset: the Direct3D 9 back-end's device objects (font texture,
// vertex and index buffers, all in the default pool) are released before
// the reset and created again after it. Both do nothing before the overlay
// exists. In between, DrawOverlayFrame draws nothing, so that nothing is
// created in the default pool while the device waits for its reset.
void ReleaseOverlayDeviceObjects();
void RestoreOverlayDeviceObjects();

// Whether the overlay has been created.
bool OverlayInitialised();

// Ends the overlay: both back-ends shut down and the context destroyed; the
// next DrawOverlayFrame with something to draw creates it again on the
// host's device and window of that moment. The plug-in keeps its overlay
// for the life of the process; the simulated host and the tests end it
// when they replace the device.
void ShutdownOverlay();
