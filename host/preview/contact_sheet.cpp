#include "preview/contact_sheet.h"

#include <windows.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace Host {
namespace {

constexpr int kThumbWidth = 320;
constexpr int kLabelHeight = 22;
constexpr int kGap = 6;
constexpr int kMaxColumns = 4;

struct Picture {
    int width = 0, height = 0;
    std::unique_ptr<unsigned char, void (*)(void*)> rgb{nullptr, stbi_image_free};
};

// The thumbnail's pixel (x, y): the mean of the source pixels it covers.
void Shrink(const Picture& picture, int thumbHeight, unsigned char* sheet, int stride, int left, int top)
{
    for (int y = 0; y < thumbHeight; ++y) {
        const int y0 = y * picture.height / thumbHeight, y1 = std::max(y0 + 1, (y + 1) * picture.height / thumbHeight);
        for (int x = 0; x < kThumbWidth; ++x) {
            const int x0 = x * picture.width / kThumbWidth, x1 = std::max(x0 + 1, (x + 1) * picture.width / kThumbWidth);
            unsigned sum[3] = {0, 0, 0}, count = 0;
            for (int sy = y0; sy < y1; ++sy) {
                for (int sx = x0; sx < x1; ++sx) {
                    const unsigned char* p = picture.rgb.get() + 3 * (sy * picture.width + sx);
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                    ++count;
                }
            }
            unsigned char* out = sheet + (top + y) * stride + 3 * (left + x);
            // The DIB holds blue, green, red.
            for (int c = 0; c < 3; ++c) out[2 - c] = static_cast<unsigned char>(sum[c] / count);
        }
    }
}

// A red frame, three pixels wide, inside the thumbnail's edge (the DIB
// holds blue, green, red).
void Frame(unsigned char* sheet, int stride, int left, int top, int width, int height)
{
    constexpr int kWidth = 3;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x >= kWidth && x < width - kWidth && y >= kWidth && y < height - kWidth) continue;
            unsigned char* out = sheet + (top + y) * stride + 3 * (left + x);
            out[0] = 40, out[1] = 40, out[2] = 230;
        }
    }
}

}  // namespace

bool WriteContactSheet(const std::vector<ContactSheetEntry>& entries, const std::string& file, std::string& error)
{
    if (entries.empty()) return error = "no pictures for the contact sheet", false;
    // Decoding the pictures is most of the work: one thread per core.
    std::vector<Picture> pictures(entries.size());
    std::atomic<std::size_t> next{0};
    auto decode = [&] {
        for (std::size_t i; (i = next++) < entries.size();) {
            int channels = 0;
            pictures[i].rgb.reset(
                stbi_load(entries[i].picture.c_str(), &pictures[i].width, &pictures[i].height, &channels, 3));
        }
    };
    std::vector<std::thread> decoders(std::max(1u, std::thread::hardware_concurrency()) - 1);
    for (std::thread& decoder : decoders) decoder = std::thread(decode);
    decode();
    for (std::thread& decoder : decoders) decoder.join();
    int cellHeight = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!pictures[i].rgb) return error = "cannot read " + entries[i].picture + " for the contact sheet", false;
        cellHeight = std::max(cellHeight, kThumbWidth * pictures[i].height / pictures[i].width);
    }
    const int count = static_cast<int>(entries.size());
    const int columns = std::min(count, kMaxColumns), rows = (count + columns - 1) / columns;
    const int width = kGap + columns * (kThumbWidth + kGap);
    const int height = kGap + rows * (cellHeight + kLabelHeight + kGap);

    // A top-down DIB section: GDI writes the labels into the same pixels.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (!bitmap) {
        if (dc) DeleteDC(dc);
        return error = "cannot make the contact sheet's bitmap", false;
    }
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    const int stride = (width * 3 + 3) & ~3;
    std::fill_n(static_cast<unsigned char*>(bits), stride * height, static_cast<unsigned char>(40));
    HFONT font = CreateFontA(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(235, 235, 235));
    for (int i = 0; i < count; ++i) {
        const int left = kGap + (i % columns) * (kThumbWidth + kGap);
        const int top = kGap + (i / columns) * (cellHeight + kLabelHeight + kGap);
        const Picture& picture = pictures[i];
        const int thumbHeight = kThumbWidth * picture.height / picture.width;
        Shrink(picture, thumbHeight, static_cast<unsigned char*>(bits), stride, left, top);
        const bool marked = !entries[i].mark.empty();
        if (marked) Frame(static_cast<unsigned char*>(bits), stride, left, top, kThumbWidth, thumbHeight);
        GdiFlush();
        RECT label{left, top + cellHeight + 2, left + kThumbWidth, top + cellHeight + kLabelHeight};
        const std::string text = marked ? "NO SUBJECT (" + entries[i].mark + "): " + entries[i].label : entries[i].label;
        SetTextColor(dc, marked ? RGB(255, 110, 110) : RGB(235, 235, 235));
        DrawTextA(dc, text.c_str(), -1, &label, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    GdiFlush();
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = static_cast<const unsigned char*>(bits) + y * stride;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) rgb[3 * (y * width + x) + c] = row[3 * x + 2 - c];
        }
    }
    if (oldFont) SelectObject(dc, oldFont);
    if (font) DeleteObject(font);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    if (!stbi_write_png(file.c_str(), width, height, 3, rgb.data(), width * 3)) {
        return error = "cannot write " + file, false;
    }
    return true;
}

}  // namespace Host
