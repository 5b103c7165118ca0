#pragma once
// A picture of a window as it shows on the screen, frame included, and a PNG writer for
// it: for looking at dialogs by eye. Taken from the window's own surface: where the
// graphics driver keeps none, the picture comes out blank, all one colour.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct TWindowPicture {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Rgb;  // rows top down, 3 bytes a pixel

    // Nothing to see: no pixels, or all of them the same.
    bool Blank() const {
        for (size_t k = 3; k < Rgb.size(); k += 3)
            if (!std::equal(Rgb.begin() + static_cast<ptrdiff_t>(k), Rgb.begin() + static_cast<ptrdiff_t>(k + 3),
                            Rgb.begin()))
                return false;
        return true;
    }
};

namespace window_picture_detail {
struct TWindowDc {
    HWND window;
    HDC dc;
    explicit TWindowDc(HWND w) : window(w), dc(::GetWindowDC(w)) {}
    ~TWindowDc() {
        if (dc) ::ReleaseDC(window, dc);
    }
    TWindowDc(const TWindowDc&) = delete;
    TWindowDc& operator=(const TWindowDc&) = delete;
};
struct TMemoryDc {
    HDC dc = ::CreateCompatibleDC(nullptr);
    ~TMemoryDc() {
        if (dc) ::DeleteDC(dc);
    }
};
struct TBitmap {
    HBITMAP bitmap;
    explicit TBitmap(HBITMAP b) : bitmap(b) {}
    ~TBitmap() {
        if (bitmap) ::DeleteObject(bitmap);
    }
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
};
struct TSelection {
    HDC dc;
    HGDIOBJ old;
    TSelection(HDC d, HGDIOBJ object) : dc(d), old(::SelectObject(d, object)) {}
    ~TSelection() { ::SelectObject(dc, old); }
    TSelection(const TSelection&) = delete;
    TSelection& operator=(const TSelection&) = delete;
};

inline uint32_t Crc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return c ^ 0xFFFFFFFF;
}

inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

inline void Chunk(std::vector<uint8_t>& file, const char* type, const std::vector<uint8_t>& data) {
    Put32(file, static_cast<uint32_t>(data.size()));
    const size_t start = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    Put32(file, Crc(file.data() + start, file.size() - start));
}
}  // namespace window_picture_detail

// The window with its frame, as its surface holds it now; empty when the window or the
// bitmap cannot be had.
inline TWindowPicture CaptureWindow(HWND window) {
    using namespace window_picture_detail;
    TWindowPicture picture;
    RECT r{};
    if (!::GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top) return picture;
    const int w = r.right - r.left, h = r.bottom - r.top;
    TMemoryDc memory;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    TBitmap bitmap(::CreateDIBSection(memory.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    TWindowDc own(window);
    if (!memory.dc || !bitmap.bitmap || !bits || !own.dc) return picture;
    {
        TSelection selected(memory.dc, bitmap.bitmap);
        if (!::BitBlt(memory.dc, 0, 0, w, h, own.dc, 0, 0, SRCCOPY)) return picture;
        ::GdiFlush();
    }
    const int stride = (w * 3 + 3) & ~3;
    picture.Width = w;
    picture.Height = h;
    picture.Rgb.reserve(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = static_cast<const uint8_t*>(bits) + y * stride + x * 3;
            picture.Rgb.insert(picture.Rgb.end(), {p[2], p[1], p[0]});
        }
    return picture;
}

// An RGB PNG with stored (uncompressed) deflate blocks: no library needed.
inline bool WritePng(const std::string& path, const TWindowPicture& picture) {
    using namespace window_picture_detail;
    const int w = picture.Width, h = picture.Height;
    if (w <= 0 || h <= 0 || picture.Rgb.size() != static_cast<size_t>(w) * h * 3) return false;
    std::vector<uint8_t> file{137, 80, 78, 71, 13, 10, 26, 10};
    std::vector<uint8_t> header;
    Put32(header, static_cast<uint32_t>(w));
    Put32(header, static_cast<uint32_t>(h));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Chunk(file, "IHDR", header);
    std::vector<uint8_t> raw;
    const size_t row = static_cast<size_t>(w) * 3;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);  // no filter
        const auto from = picture.Rgb.begin() + static_cast<ptrdiff_t>(y * row);
        raw.insert(raw.end(), from, from + static_cast<ptrdiff_t>(row));
    }
    std::vector<uint8_t> z{0x78, 0x01};
    for (size_t at = 0; at < raw.size();) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at), raw.begin() + static_cast<ptrdiff_t>(at + n));
        at += n;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t x : raw) {
        a = (a + x) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, (b << 16) | a);
    Chunk(file, "IDAT", z);
    Chunk(file, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && written;
}
