#include "overlay/overlay.h"

#include <windows.h>

#include <imgui.h>
#include <imgui_impl_dx9.h>
#include <imgui_impl_win32.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "base/host_view.h"
#include "overlay/embedded_font.h"

namespace {

constexpr float kFontPixels = 64.0f;
constexpr float kReferenceHeight = 1440.0f;
constexpr float kReferenceTextSize = 25.0f;
constexpr double kTextDrop = 0.0025;  // texts sit this far (times their scale) below their y
// Pixel coordinates are clamped to this magnitude before truncation, so
// that absurd fractions stay well-defined (far outside any window).
constexpr double kCoordinateLimit = 1.0e7;
// Vertices one frame may add (four per rectangle or glyph): about 100 MB
// between Dear ImGui's buffers and the back-end's. Full queues of long,
// outlined texts would need gigabytes, more than a 32-bit host has; the
// items that would pass the budget are left out of that frame.
constexpr int kFrameVertexBudget = 1 << 21;

struct DebugOverlay {
    ImGuiContext* context;
    HWND window;                // the Win32 back-end's window
    IDirect3DDevice9* device;   // the Direct3D 9 back-end's device
    ImFont* font;               // the embedded font at 64 pixels, the default font
    bool deviceObjectsReleased; // between the two steps of a device reset
};

DebugOverlay Overlay;  // created on first use, kept for the process

struct WindowSize {
    float width = 0;   // W
    float height = 0;  // H
    bool Valid() const { return width > 0 && height > 0; }
};

WindowSize HostWindowSize()
{
    RECT rect{};
    HWND window = HostGame::Window();
    if (!window || !GetWindowRect(window, &rect)) return {};
    return {std::trunc(static_cast<float>(rect.right - rect.left)),
            std::trunc(static_cast<float>(rect.bottom - rect.top))};
}

// trunc(trunc(H / 1440 * 25) * scale); 0 when that is no usable size.
float TextPixelSize(float height, float scale)
{
    const float base = std::trunc(height / kReferenceHeight * kReferenceTextSize);
    const float size = std::trunc(base * scale);
    return std::isfinite(size) && size >= 1.0f ? size : 0.0f;
}

float TextWidthPixels(ImFont* font, float pixelSize, const char* text)
{
    return font->CalcTextSizeA(pixelSize, FLT_MAX, 0.0f, text).x;
}


bool PixelCoordinate(double value, float* out)
{
    if (!std::isfinite(value)) return false;
    *out = static_cast<float>(std::trunc(std::clamp(value, -kCoordinateLimit, kCoordinateLimit)));
    return true;
}

ImU32 Colour(std::int32_t red, std::int32_t green, std::int32_t blue, std::int32_t alpha)
{
    return IM_COL32(red & 0xFF, green & 0xFF, blue & 0xFF, alpha & 0xFF);
}

bool Initialise()
{
    IDirect3DDevice9* device = HostGame::Device();
    HWND window = HostGame::Window();
    if (!device || !window) return false;

    ImGuiContext* context = ImGui::CreateContext();
    ImGui::SetCurrentContext(context);
    ImGui::StyleColorsDark();
    ImGuiIO& io = ImGui::GetIO();
    if (!ImGui_ImplWin32_Init(window)) {
        ImGui::DestroyContext(context);
        return false;
    }
    if (!ImGui_ImplDX9_Init(device)) {
        ImGui_ImplWin32_Shutdown();
        ImGui::DestroyContext(context);
        return false;
    }
    const EmbeddedFont& embedded = OverlayEmbeddedFont();
    ImFont* font = io.Fonts->AddFontFromMemoryCompressedTTF(embedded.compressed,
                                                            static_cast<int>(embedded.compressedSize), kFontPixels);
    io.FontDefault = font;
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    Overlay = {context, window, device, font, false};
    return true;
}

// Whether the list can take `quads` more quads within the frame's budget.
bool WithinBudget(const ImDrawList* list, std::size_t quads)
{
    return quads <= static_cast<std::size_t>(kFrameVertexBudget - list->VtxBuffer.Size) / 4;
}

void DrawRect(ImDrawList* list, const OverlayRect& item, const WindowSize& size)
{
    ImVec2 min, max;
    if (!PixelCoordinate((item.centreX - item.width / 2) * size.width, &min.x) ||
        !PixelCoordinate((item.centreY - item.height / 2) * size.height, &min.y) ||
        !PixelCoordinate((item.centreX + item.width / 2) * size.width, &max.x) ||
        !PixelCoordinate((item.centreY + item.height / 2) * size.height, &max.y)) {
        return;
    }
    list->AddRectFilled(min, max, Colour(item.red, item.green, item.blue, item.alpha), 0.0f);
}

void DrawText(ImDrawList* list, ImFont* font, const OverlayText& item, const WindowSize& size)
{
    const OverlayTextStyle& style = item.style;
    const float pixelSize = TextPixelSize(size.height, style.scale);
    if (pixelSize == 0.0f || !std::isfinite(item.x) || !std::isfinite(item.y)) return;

    // Drawn as it is at its anchor: a text wider than the room the anchor
    // leaves runs past the window's edge.
    const char* text = item.text;
    const float width = TextWidthPixels(font, pixelSize, text) / size.width;

    const double anchor = style.centred ? item.x - width * 0.5 : style.rightAligned ? item.x - width : item.x;
    const double left = size.width * anchor;
    const double top = (item.y + kTextDrop * style.scale) * size.height;
    if (!std::isfinite(left) || !std::isfinite(top)) return;
    const ImVec2 position(static_cast<float>(std::clamp(left, -kCoordinateLimit, kCoordinateLimit)),
                          static_cast<float>(std::clamp(top, -kCoordinateLimit, kCoordinateLimit)));

    if (!WithinBudget(list, std::strlen(text) * (style.outlined ? 5 : 1))) return;
    if (style.outlined) {
        const ImU32 outline = Colour(0, 0, 0, style.alpha);
        list->AddText(font, pixelSize, ImVec2(position.x - 1, position.y), outline, text);
        list->AddText(font, pixelSize, ImVec2(position.x + 1, position.y), outline, text);
        list->AddText(font, pixelSize, ImVec2(position.x, position.y - 1), outline, text);
        list->AddText(font, pixelSize, ImVec2(position.x, position.y + 1), outline, text);
    }
    list->AddText(font, pixelSize, position, Colour(style.red, style.green, style.blue, style.alpha), text);
}

}  // namespace

void DrawOverlayFrame()
{
    if (!Overlay.context) {
        if (OverlayTextQueue.publishedCount == 0 && OverlayRectQueue.publishedCount == 0) return;
        if (!Initialise()) return;
    }
    if (Overlay.deviceObjectsReleased) return;
    ImGui::SetCurrentContext(Overlay.context);

    ImGui_ImplDX9_NewFrame();
    ImGui_ImplWin32_NewFrame();
    ImGui::NewFrame();

    const WindowSize size = HostWindowSize();
    ImFont* font = ImGui::GetFont();
    if (size.Valid() && font) {
        ImDrawList* list = ImGui::GetForegroundDrawList();
        const OverlayRect* rects = OverlayRectQueue.Published();
        for (std::uint32_t i = 0; i < OverlayRectQueue.publishedCount; ++i) {
            if (rects[i].used == 1 && WithinBudget(list, 1)) DrawRect(list, rects[i], size);
        }
        const OverlayText* texts = OverlayTextQueue.Published();
        for (std::uint32_t i = 0; i < OverlayTextQueue.publishedCount; ++i) {
            if (texts[i].used == 1) DrawText(list, font, texts[i], size);
        }
    }

    ImGui::Render();
    ImDrawData* data = ImGui::GetDrawData();
    // Without its font texture (the device refused it) the frame would draw
    // untextured boxes: skip it; the back-end tries again next frame.
    if (data && data->CmdListsCount > 0 && ImGui::GetIO().Fonts->TexID) ImGui_ImplDX9_RenderDrawData(data);
}

float MeasureOverlayText(const char* text, float scale)
{
    if (!Overlay.context) return 1.0f;
    ImGui::SetCurrentContext(Overlay.context);
    ImFont* font = ImGui::GetFont();
    const WindowSize size = HostWindowSize();
    if (!font || !size.Valid()) return 1.0f;
    if (!text) return 0.0f;
    return TextWidthPixels(font, TextPixelSize(size.height, scale), text) / size.width;
}

void ReleaseOverlayDeviceObjects()
{
    if (!Overlay.context) return;
    ImGui::SetCurrentContext(Overlay.context);
    ImGui_ImplDX9_InvalidateDeviceObjects();
    Overlay.deviceObjectsReleased = true;
}

void RestoreOverlayDeviceObjects()
{
    if (!Overlay.context) return;
    ImGui::SetCurrentContext(Overlay.context);
    Overlay.deviceObjectsReleased = false;
    if (Overlay.device) ImGui_ImplDX9_CreateDeviceObjects();
}

bool OverlayInitialised() { return Overlay.context != nullptr; }

void ShutdownOverlay()
{
    if (!Overlay.context) return;
    ImGui::SetCurrentContext(Overlay.context);
    ImGui_ImplDX9_Shutdown();
    ImGui_ImplWin32_Shutdown();
    ImGui::DestroyContext(Overlay.context);
    Overlay = {};
}
