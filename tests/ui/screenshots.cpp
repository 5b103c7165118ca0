// Saves a picture of each dialog as a person sees it, for a look by eye: run under a
// real display (tools/ui-screenshots.sh). Usage: ui_screenshots.exe <folder>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "rtl/virtualclock.h"
#include "ui/FrmConfig.h"
#include "ui/FrmHidAction.h"
#include "ui/FrmHidActionEdit.h"

namespace {
std::string folder = ".";
std::function<void(TForm&)> prepare;
std::string current;

uint32_t Crc(const uint8_t* p, size_t n, uint32_t c = 0xFFFFFFFF) {
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return c;
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

void Chunk(FILE* f, const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c;
    Put32(c, static_cast<uint32_t>(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    Put32(c, Crc(c.data() + 4, c.size() - 4) ^ 0xFFFFFFFF);
    fwrite(c.data(), 1, c.size(), f);
}

// An RGB PNG with stored (uncompressed) deflate blocks: no library needed.
bool WritePng(const std::string& path, int w, int h, const std::vector<uint8_t>& rgb) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    static const uint8_t sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    fwrite(sig, 1, 8, f);
    std::vector<uint8_t> ihdr;
    Put32(ihdr, static_cast<uint32_t>(w));
    Put32(ihdr, static_cast<uint32_t>(h));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    Chunk(f, "IHDR", ihdr);
    std::vector<uint8_t> raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + static_cast<ptrdiff_t>(y) * w * 3, rgb.begin() + static_cast<ptrdiff_t>(y + 1) * w * 3);
    }
    std::vector<uint8_t> z{0x78, 0x01};
    for (size_t at = 0; at < raw.size() || raw.empty();) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at), raw.begin() + static_cast<ptrdiff_t>(at + n));
        at += n;
        if (raw.empty()) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t x : raw) {
        a = (a + x) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, (b << 16) | a);
    Chunk(f, "IDAT", z);
    Chunk(f, "IEND", {});
    return fclose(f) == 0;
}

void Capture(HWND wnd, const std::string& name) {
    RECT r{};
    GetWindowRect(wnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const HDC screen = GetDC(nullptr);
    const HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(mem, bmp);
    // From the window's own surface, frame included.
    const HDC own = GetWindowDC(wnd);
    BitBlt(mem, 0, 0, w, h, own, 0, 0, SRCCOPY);
    ReleaseDC(wnd, own);
    GdiFlush();
    const int stride = (w * 3 + 3) & ~3;
    std::vector<uint8_t> rgb;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = static_cast<const uint8_t*>(bits) + y * stride + x * 3;
            rgb.insert(rgb.end(), {p[2], p[1], p[0]});
        }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    const std::string path = folder + "\\" + name + ".png";
    std::printf("%s %dx%d: %s\n", name.c_str(), w, h, WritePng(path, w, h, rgb) ? "saved" : "FAILED");
}

void Pump(int ms) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    while (GetTickCount() < end) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(10);
    }
}

void Shown(TForm& form) {
    if (prepare) prepare(form);
    // The modal loop shows the dialog once its queue is empty; this runs before that.
    ShowWindow(form.Handle(), SW_SHOW);
    RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Pump(600);
    Capture(form.Handle(), current);
    form.Close();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) folder = argv[1];
    CreateDirectoryA(folder.c_str(), nullptr);
    const auto clock = TVirtualClock::Install();  // the countdowns stand still
    TForm::ShownSeam = &Shown;
    TForm::MessageBoxCall = [](HWND, const char*, const char*, UINT) { return IDOK; };

    {
        current = "learning-volume-up";
        TfmHidAction learn(nullptr);
        learn.FAction->Code = 5;
        prepare = [&](TForm&) { clock->Advance(3000); };
        learn.ShowModal();
    }
    {
        current = "learning-release";
        TfmHidAction learn(nullptr);
        learn.FAction->Code = 7;
        prepare = [&](TForm& f) {
            static_cast<TfmHidAction&>(f).lMessage.SetText("Please RELEASE button on remote control now!");
            clock->Advance(1000);
        };
        learn.ShowModal();
    }
    {
        current = "learning-detection";
        TfmHidAction learn(nullptr);
        prepare = nullptr;
        learn.ShowModal();
    }
    const std::vector<std::string> names{"USB Receiver for Remote Control", "Multimedia Keyboard", "Game Pad"};
    {
        current = "editor-unassigned";
        TfmActionEdit edit(nullptr);
        edit.FDeviceNames = &names;
        edit.FSupportedActions = 0x27FF;
        prepare = nullptr;
        edit.ShowModal();
    }
    {
        current = "editor-assigned";
        TfmActionEdit edit(nullptr);
        edit.FDeviceNames = &names;
        edit.FSupportedActions = 0x37FF;
        THidAction a;
        a.Code = 6;
        a.PressSignature = 0x12345678;
        a.DeviceIndex = 0;
        edit.SetAction(&a);
        edit.ShowModal();
    }
    {
        THidProcessor engine;
        const struct {
            TActionCode code;
            bool assigned;
            int device;
        } actions[] = {{1, true, 0}, {2, true, 0}, {3, false, -1}, {5, true, 0},
                       {6, true, 0},  {13, false, -1}, {14, true, 5}, {15, true, 0}};
        for (const auto& a : actions) {
            auto* action = new THidAction;
            action->Code = a.code;
            if (a.assigned) action->PressSignature = 0x1000u + a.code;
            action->DeviceIndex = a.device;
            engine.Add(action);
        }
        for (const auto& [name, mode, page] : {std::tuple{"config-simple", false, -1},
                                               std::tuple{"config-extended", true, -1},
                                               std::tuple{"config-hid", false, int(TfmConfig::pgHid)},
                                               std::tuple{"config-about", false, int(TfmConfig::pgAbout)}}) {
            current = name;
            engine.Mode = mode;
            TfmConfig config(nullptr);
            config.FProcessor = &engine;
            const int shown = page;
            prepare = [shown](TForm& f) {
                auto& c = static_cast<TfmConfig&>(f);
                if (shown == TfmConfig::pgHid) c.SetTabVisible(TfmConfig::pgHid, true);
                if (shown >= 0) c.SetActivePage(shown);
            };
            config.ShowModal();
        }
    }
    return 0;
}
