// The simulated screen behind GDI and USER: a picture in memory that device contexts and
// bitmaps read and write the way the Windows documentation describes.
//
// - GetWindowDC(NULL) is the whole screen; ReleaseDC(NULL, dc) gives it back.
// - A memory context starts with the stock 1 x 1 monochrome bitmap selected. A bitmap made
//   compatible with it is therefore monochrome: only one made with the screen context has
//   the screen's 32-bit format.
// - CreateCompatibleBitmap: a fresh, zeroed bitmap; a 1 x 1 monochrome one for a zero size;
//   NULL for a negative size or one whose pixels would take more than 64 MiB.
// - BitBlt copies the part of the rectangle that lies on both surfaces and leaves the rest of
//   the destination as it was. Only SRCCOPY is known; into a monochrome bitmap, a pixel equal
//   to the source's background colour (white) becomes white and every other one black.
// - GetDIBits writes 32-bit BI_RGB rows (top-down for a negative height) of a header whose
//   width matches the bitmap, and returns the rows written; the query form (no buffer) and
//   every other layout fail with 0.
// - A bitmap selected into a context cannot be deleted; deleting the context drops its
//   selection. Handles are never reused, so a stale one fails instead of aliasing.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "dib_rows.h"
#include "machine.h"

namespace {

const uint32_t white = 0x00FFFFFF;
const uint64_t largest_bitmap_bytes = uint64_t{64} << 20;

struct Surface {
    int width = 0;
    int height = 0;
    bool monochrome = false;
    std::vector<uint32_t> pixels;  // rows from the top

    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

struct Context {
    bool memory;             // false: the screen's context from GetWindowDC
    uintptr_t selected = 0;  // bitmap of a memory context
};

struct Screen {
    std::mutex lock;
    Surface picture;
    Surface stock_bitmap{1, 1, true, {0}};
    std::map<uintptr_t, Context> contexts;
    std::map<uintptr_t, Surface> bitmaps;
    uintptr_t next_handle = 0x10000;
    int bit_blts = 0;
    int get_dibits = 0;

    Screen() { show_default_picture(); }

    void show_default_picture() {
        picture = Surface{1024, 768, false, std::vector<uint32_t>(size_t{1024} * 768)};
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) picture.at(x, y) = dummy::screen_default_pixel(x, y);
    }

    uintptr_t new_handle() {
        uintptr_t handle = next_handle;
        next_handle += 4;
        return handle;
    }

    Context* context(HDC dc) {
        auto found = contexts.find(reinterpret_cast<uintptr_t>(dc));
        return found == contexts.end() ? nullptr : &found->second;
    }

    bool is_stock(uintptr_t handle) const { return handle == stock_handle; }

    Surface* bitmap(uintptr_t handle) {
        if (is_stock(handle)) return &stock_bitmap;
        auto found = bitmaps.find(handle);
        return found == bitmaps.end() ? nullptr : &found->second;
    }

    // What a context draws on: the screen, or the bitmap selected into a memory context.
    Surface* surface(HDC dc) {
        Context* found = context(dc);
        if (!found) return nullptr;
        return found->memory ? bitmap(found->selected) : &picture;
    }

    bool is_selected(uintptr_t bitmap) const {
        for (const auto& entry : contexts)
            if (entry.second.selected == bitmap) return true;
        return false;
    }

    static constexpr uintptr_t stock_handle = 0x100;
};

Screen& screen() {
    static Screen instance;
    return instance;
}

HGDIOBJ as_object(uintptr_t handle) { return reinterpret_cast<HGDIOBJ>(handle); }
HDC as_dc(uintptr_t handle) { return reinterpret_cast<HDC>(handle); }

}  // namespace

HDC WINAPI GetWindowDC(HWND window) {
    // There are no windows here, only the screen.
    if (window || dummy::take_failure(dummy::Call::GetWindowDC)) return nullptr;
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    uintptr_t handle = s.new_handle();
    s.contexts[handle] = Context{false};
    return as_dc(handle);
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    Context* found = s.context(dc);
    if (window || !found || found->memory) return 0;
    s.contexts.erase(reinterpret_cast<uintptr_t>(dc));
    return 1;
}

HDC WINAPI CreateCompatibleDC(HDC dc) {
    if (dummy::take_failure(dummy::Call::CreateCompatibleDC)) return nullptr;
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    // NULL stands for the screen.
    if (dc && !s.context(dc)) return nullptr;
    uintptr_t handle = s.new_handle();
    s.contexts[handle] = Context{true, Screen::stock_handle};
    return as_dc(handle);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (dummy::take_failure(dummy::Call::CreateCompatibleBitmap)) return nullptr;
    if (width < 0 || height < 0) return nullptr;
    if (uint64_t{4} * static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > largest_bitmap_bytes) return nullptr;
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    Surface* format = s.surface(dc);
    if (!format) return nullptr;
    Surface fresh;
    if (width == 0 || height == 0)
        fresh = Surface{1, 1, true, {0}};
    else
        fresh = Surface{width, height, format->monochrome, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    uintptr_t handle = s.new_handle();
    s.bitmaps[handle] = std::move(fresh);
    return as_object(handle);
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    if (dummy::take_failure(dummy::Call::SelectObject)) return nullptr;
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    Context* target = s.context(dc);
    uintptr_t bitmap = reinterpret_cast<uintptr_t>(object);
    // Bitmaps go into memory contexts only, and (but for stock ones) into one at a time.
    if (!target || !target->memory || !s.bitmap(bitmap)) return nullptr;
    if (target->selected != bitmap && !s.is_stock(bitmap) && s.is_selected(bitmap)) return nullptr;
    uintptr_t replaced = target->selected;
    target->selected = bitmap;
    return as_object(replaced);
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
    if (dummy::take_failure(dummy::Call::BitBlt)) return FALSE;
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    ++s.bit_blts;
    Surface* to = s.surface(dest);
    Surface* from = s.surface(src);
    if (!to || !from || rop != SRCCOPY) return FALSE;
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            // 64-bit sums: coordinates near the ends of int must not wrap onto the surface.
            int64_t tx = int64_t{x} + column, ty = int64_t{y} + row;
            int64_t fx = int64_t{srcX} + column, fy = int64_t{srcY} + row;
            if (tx < 0 || ty < 0 || tx >= to->width || ty >= to->height) continue;
            if (fx < 0 || fy < 0 || fx >= from->width || fy >= from->height) continue;
            uint32_t pixel = from->at(static_cast<int>(fx), static_cast<int>(fy));
            if (to->monochrome && !from->monochrome) pixel = (pixel & white) == white ? white : 0;
            to->at(static_cast<int>(tx), static_cast<int>(ty)) = pixel;
        }
    return TRUE;
}

int WINAPI GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) {
    if (dummy::take_failure(dummy::Call::GetDIBits)) return 0;
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    ++s.get_dibits;
    Surface* source = s.bitmap(reinterpret_cast<uintptr_t>(bitmap));
    if (!s.context(dc) || !source) return 0;
    return copy_dib_rows(startScan, lines, bits, info, usage, source->width, source->height,
                         [source](int row, uint32_t* to) { std::copy_n(&source->at(0, row), source->width, to); });
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    uintptr_t handle = reinterpret_cast<uintptr_t>(object);
    if (s.is_stock(handle)) return TRUE;  // harmless, and the stock bitmap stays
    if (!s.bitmap(handle) || s.is_selected(handle)) return FALSE;
    s.bitmaps.erase(handle);
    return TRUE;
}

BOOL WINAPI DeleteDC(HDC dc) {
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    Context* found = s.context(dc);
    // The screen's context goes back through ReleaseDC, never DeleteDC.
    if (!found || !found->memory) return FALSE;
    s.contexts.erase(reinterpret_cast<uintptr_t>(dc));
    return TRUE;
}

namespace dummy {

// Distinct everywhere on the start screen (x and y take 12 bits each), with a high byte that
// varies so a reader that masks or sets bits 24 to 31 shows.
uint32_t screen_default_pixel(int x, int y) {
    auto ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
    return (ux & 0xFFF) | (uy & 0xFFF) << 12 | ((ux + uy) & 0xFF) << 24;
}

void screen_set(int width, int height, const uint32_t* pixels) {
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    width = width < 0 ? 0 : width;
    height = height < 0 ? 0 : height;
    s.picture = Surface{width, height, false, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    if (pixels) std::copy(pixels, pixels + s.picture.pixels.size(), s.picture.pixels.begin());
}

ScreenState screen_state() {
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    ScreenState state{};
    for (const auto& entry : s.contexts) {
        if (!entry.second.memory)
            ++state.screenDCs;
        else {
            ++state.memoryDCs;
            if (!s.is_stock(entry.second.selected)) ++state.selections;
        }
    }
    state.bitmaps = static_cast<int>(s.bitmaps.size());
    state.bitBlts = s.bit_blts;
    state.getDIBits = s.get_dibits;
    return state;
}

void reset_screen() {
    Screen& s = screen();
    std::lock_guard<std::mutex> hold(s.lock);
    s.show_default_picture();
    s.bit_blts = 0;
    s.get_dibits = 0;
}

}  // namespace dummy
