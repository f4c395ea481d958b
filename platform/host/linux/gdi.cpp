// GDI and USER over X11: the screen is the root window of $DISPLAY, read by BitBlt into
// bitmaps held in memory, which GetDIBits hands out as 32-bit rows.
//
// - GetWindowDC(NULL) is the whole screen; with no display (no $DISPLAY, no server, no libxcb)
//   it fails with NULL. ReleaseDC(NULL, dc) gives it back.
// - A memory context starts with the stock 1 x 1 monochrome bitmap selected. A bitmap made
//   compatible with it is therefore monochrome: only one made with the screen context has the
//   screen's 32-bit format.
// - CreateCompatibleBitmap: a fresh, black bitmap; a 1 x 1 monochrome one for a zero size;
//   NULL for a negative size or one whose pixels would take more than 1 GiB.
// - BitBlt copies the part of the rectangle that lies on both surfaces and leaves the rest of
//   the destination as it was; from the screen only that part is requested, since X refuses a
//   read that leaves the root window. Only SRCCOPY into a memory context is offered (nothing
//   draws on the screen). Into a monochrome bitmap, white stays white and every other colour
//   becomes black. FALSE when the server refuses the read: the bitmap keeps what it held.
// - GetDIBits writes 32-bit BI_RGB rows (top-down for a negative height) of a header whose
//   width matches the bitmap, and returns the rows written; the query form (no buffer) and
//   every other layout fail with 0.
// - A bitmap selected into a context cannot be deleted; deleting the context drops its
//   selection. Handles are never reused, so a stale one fails instead of aliasing.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "dib_rows.h"
#include "screen_census.h"
#include "x_display.h"

namespace {

const uint32_t white = 0x00FFFFFF;
const uint64_t largest_bitmap_bytes = uint64_t{1} << 30;

// A fresh bitmap is black, but its memory is not cleared until the first copy into it, and
// then only around the rectangle the copy writes: a whole-screen grab writes every pixel once,
// into memory the allocator has usually handed out before, instead of clearing fresh pages
// only to overwrite them.
struct Bitmap {
    int width;
    int height;
    bool monochrome;
    std::unique_ptr<uint32_t[], decltype(&std::free)> pixels;  // rows from the top
    bool black = true;                                         // nothing written yet, memory uncleared

    uint32_t* row(int y) const { return pixels.get() + static_cast<size_t>(y) * static_cast<size_t>(width); }

    // Makes every pixel outside the rectangle black in memory, before the rectangle is written.
    void prepare(int x, int y, int columns, int rows) {
        if (!black) return;
        black = false;
        std::fill(row(0), row(y), 0u);
        for (int r = y; r < y + rows; ++r) {
            std::fill(row(r), row(r) + x, 0u);
            std::fill(row(r) + x + columns, row(r) + width, 0u);
        }
        std::fill(row(y + rows), row(height), 0u);
    }
};

std::shared_ptr<Bitmap> fresh_bitmap(int width, int height, bool monochrome) {
    auto* pixels = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(width) * static_cast<size_t>(height) * 4));
    if (!pixels) return nullptr;
    return std::make_shared<Bitmap>(Bitmap{width, height, monochrome, {pixels, &std::free}});
}

struct Context {
    std::shared_ptr<x11::Display> display;  // the screen's context from GetWindowDC
    uintptr_t selected = 0;                 // otherwise a memory context, and its bitmap

    bool memory() const { return !display; }
};

// Every call looks its objects up here and works on them after letting go of the lock, so
// grabs on several threads read the screen at the same time.
struct Objects {
    std::mutex lock;
    std::map<uintptr_t, Context> contexts;
    std::map<uintptr_t, std::shared_ptr<Bitmap>> bitmaps;
    const std::shared_ptr<Bitmap> stock_bitmap = fresh_bitmap(1, 1, true);
    uintptr_t next_handle = 0x10000;

    static constexpr uintptr_t stock_handle = 0x100;

    uintptr_t add(Context context) {
        uintptr_t handle = next_handle;
        next_handle += 4;
        contexts[handle] = std::move(context);
        return handle;
    }

    Context* context(HDC dc) {
        auto found = contexts.find(reinterpret_cast<uintptr_t>(dc));
        return found == contexts.end() ? nullptr : &found->second;
    }

    std::shared_ptr<Bitmap> bitmap(uintptr_t handle) {
        if (handle == stock_handle) return stock_bitmap;
        auto found = bitmaps.find(handle);
        return found == bitmaps.end() ? nullptr : found->second;
    }

    bool is_selected(uintptr_t bitmap) const {
        for (const auto& entry : contexts)
            if (entry.second.selected == bitmap) return true;
        return false;
    }
};

Objects& objects() {
    static Objects instance;
    return instance;
}

HGDIOBJ as_object(uintptr_t handle) { return reinterpret_cast<HGDIOBJ>(handle); }
HDC as_dc(uintptr_t handle) { return reinterpret_cast<HDC>(handle); }

// Writes rows of 32-bit pixels into the bitmap at (x, y), which the caller has clipped.
void place(Bitmap& to, int x, int y, int width, int height, const uint32_t* from, size_t stride) {
    to.prepare(x, y, width, height);
    for (int row = 0; row < height; ++row) {
        const uint32_t* source = from + static_cast<size_t>(row) * stride;
        uint32_t* target = to.row(y + row) + x;
        if (to.monochrome)
            std::transform(source, source + width, target, [](uint32_t p) { return (p & white) == white ? white : 0; });
        else
            std::copy(source, source + width, target);
    }
}

// The first and one-past-last offsets along one axis at which both the source and the
// destination are covered; 64-bit, so coordinates near the ends of int cannot wrap.
std::pair<int, int> overlap(int length, int to, int to_size, int from, int from_size) {
    int64_t first = std::max<int64_t>({0, -int64_t{to}, -int64_t{from}});
    int64_t last = std::min<int64_t>({length, int64_t{to_size} - to, int64_t{from_size} - from});
    return {static_cast<int>(first), static_cast<int>(std::max(first, last))};
}

}  // namespace

HDC WINAPI GetWindowDC(HWND window) {
    // There are no windows here, only the screen.
    if (window) return nullptr;
    std::shared_ptr<x11::Display> display = x11::current_display();
    if (!display) return nullptr;
    Objects& o = objects();
    std::lock_guard<std::mutex> hold(o.lock);
    return as_dc(o.add(Context{std::move(display)}));
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    std::shared_ptr<x11::Display> display;  // let go of after the lock: it may close the connection
    Objects& o = objects();
    std::lock_guard<std::mutex> hold(o.lock);
    Context* found = o.context(dc);
    if (window || !found || found->memory()) return 0;
    display = std::move(found->display);
    o.contexts.erase(reinterpret_cast<uintptr_t>(dc));
    return 1;
}

HDC WINAPI CreateCompatibleDC(HDC dc) {
    Objects& o = objects();
    std::lock_guard<std::mutex> hold(o.lock);
    // NULL stands for the screen.
    if (dc && !o.context(dc)) return nullptr;
    return as_dc(o.add(Context{nullptr, Objects::stock_handle}));
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (width < 0 || height < 0) return nullptr;
    if (uint64_t{4} * static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > largest_bitmap_bytes) return nullptr;
    bool monochrome;
    {
        Objects& o = objects();
        std::lock_guard<std::mutex> hold(o.lock);
        Context* format = o.context(dc);
        if (!format) return nullptr;
        monochrome = format->memory() && o.bitmap(format->selected)->monochrome;
    }
    std::shared_ptr<Bitmap> fresh = width && height ? fresh_bitmap(width, height, monochrome) : fresh_bitmap(1, 1, true);
    if (!fresh) return nullptr;
    Objects& o = objects();
    std::lock_guard<std::mutex> hold(o.lock);
    uintptr_t handle = o.next_handle;
    o.next_handle += 4;
    o.bitmaps[handle] = std::move(fresh);
    return as_object(handle);
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    Objects& o = objects();
    std::lock_guard<std::mutex> hold(o.lock);
    Context* target = o.context(dc);
    uintptr_t bitmap = reinterpret_cast<uintptr_t>(object);
    // Bitmaps go into memory contexts only, and (but for stock ones) into one at a time.
    if (!target || !target->memory() || !o.bitmap(bitmap)) return nullptr;
    if (target->selected != bitmap && bitmap != Objects::stock_handle && o.is_selected(bitmap)) return nullptr;
    uintptr_t replaced = target->selected;
    target->selected = bitmap;
    return as_object(replaced);
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
    std::shared_ptr<Bitmap> to, from;
    std::shared_ptr<x11::Display> screen;
    {
        Objects& o = objects();
        std::lock_guard<std::mutex> hold(o.lock);
        Context* target = o.context(dest);
        Context* source = o.context(src);
        if (!target || !target->memory() || !source || rop != SRCCOPY) return FALSE;
        to = o.bitmap(target->selected);
        if (source->memory())
            from = o.bitmap(source->selected);
        else
            screen = source->display;
    }
    int from_width = 0, from_height = 0;
    if (from) {
        from_width = from->width;
        from_height = from->height;
    } else if (!x11::root_size(*screen, from_width, from_height)) {
        return FALSE;
    }
    auto [left, right] = overlap(width, x, to->width, srcX, from_width);
    auto [top, bottom] = overlap(height, y, to->height, srcY, from_height);
    const int columns = right - left, rows = bottom - top;
    if (!columns || !rows) return TRUE;

    // Straight into a screen-format bitmap; through a copy when the bitmap is monochrome or
    // is read from (it may be the destination itself).
    if (screen && !to->monochrome) {
        const bool was_black = to->black;
        to->prepare(x + left, y + top, columns, rows);
        uint32_t* corner = to->row(y + top) + x + left;
        const size_t stride = static_cast<size_t>(to->width);
        if (x11::read_root(*screen, srcX + left, srcY + top, columns, rows, corner, stride)) return TRUE;
        // A refused read wrote nothing: a fresh bitmap's rectangle is cleared now, so it stays black.
        for (int row = 0; was_black && row < rows; ++row) std::fill_n(corner + row * stride, columns, 0u);
        return FALSE;
    }
    std::vector<uint32_t> copy(static_cast<size_t>(columns) * static_cast<size_t>(rows));
    if (from && from->black) from = nullptr;  // the copy starts black already
    if (screen && !x11::read_root(*screen, srcX + left, srcY + top, columns, rows, copy.data(), static_cast<size_t>(columns)))
        return FALSE;
    if (from)
        for (int row = 0; row < rows; ++row)
            std::copy_n(from->row(srcY + top + row) + srcX + left, columns, copy.data() + static_cast<size_t>(row) * columns);
    place(*to, x + left, y + top, columns, rows, copy.data(), static_cast<size_t>(columns));
    return TRUE;
}

int WINAPI GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) {
    std::shared_ptr<Bitmap> source;
    {
        Objects& o = objects();
        std::lock_guard<std::mutex> hold(o.lock);
        if (!o.context(dc)) return 0;
        source = o.bitmap(reinterpret_cast<uintptr_t>(bitmap));
    }
    if (!source) return 0;
    return copy_dib_rows(startScan, lines, bits, info, usage, source->width, source->height,
                         [&source](int row) -> const uint32_t* { return source->black ? nullptr : source->row(row); });
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    std::shared_ptr<Bitmap> deleted;  // freed after the lock
    Objects& o = objects();
    std::lock_guard<std::mutex> hold(o.lock);
    uintptr_t handle = reinterpret_cast<uintptr_t>(object);
    if (handle == Objects::stock_handle) return TRUE;  // harmless, and the stock bitmap stays
    auto found = o.bitmaps.find(handle);
    if (found == o.bitmaps.end() || o.is_selected(handle)) return FALSE;
    deleted = std::move(found->second);
    o.bitmaps.erase(found);
    return TRUE;
}

BOOL WINAPI DeleteDC(HDC dc) {
    Objects& o = objects();
    std::lock_guard<std::mutex> hold(o.lock);
    Context* found = o.context(dc);
    // The screen's context goes back through ReleaseDC, never DeleteDC.
    if (!found || !found->memory()) return FALSE;
    o.contexts.erase(reinterpret_cast<uintptr_t>(dc));
    return TRUE;
}

namespace host {

ScreenCensus screen_census() {
    ScreenCensus census{};
    {
        Objects& o = objects();
        std::lock_guard<std::mutex> hold(o.lock);
        for (const auto& entry : o.contexts) ++(entry.second.memory() ? census.memory_dcs : census.screen_dcs);
        census.bitmaps = static_cast<int>(o.bitmaps.size());
    }
    x11::DisplayCensus display = x11::display_census();
    census.displays = display.displays;
    census.shm_reads = display.shm_reads;
    census.plain_reads = display.plain_reads;
    return census;
}

}  // namespace host
