// GDI and USER over a screen source (source.h, chosen by current_source.h): the root window of
// $DISPLAY, or the desktop portal's ScreenCast on a Wayland desktop, read by BitBlt into bitmaps
// held in memory, which GetDIBits hands out as 32-bit rows.
//
// - GetWindowDC(NULL) is the whole screen; with no source (no portal, no $DISPLAY, no server,
//   no libxcb) it fails with NULL. ReleaseDC(NULL, dc) gives it back.
// - A memory context starts with the stock 1 x 1 monochrome bitmap selected. A bitmap made
//   compatible with it is therefore monochrome: only one made with the screen context has the
//   screen's 32-bit format.
// - CreateCompatibleBitmap: a fresh, black bitmap; a 1 x 1 monochrome one for a zero size;
//   NULL for a negative size or one whose pixels would take more than 1 GiB.
// - BitBlt copies the part of the rectangle that lies on both surfaces and leaves the rest of
//   the destination as it was; from the screen only that part is requested, since X refuses a
//   read that leaves the root window. Where the portal's monitors leave gaps, pixels are black. Only SRCCOPY into a memory context is offered (nothing
//   draws on the screen). Into a monochrome bitmap, white stays white and every other colour
//   becomes black. FALSE when the screen's format cannot be read, or the server refuses a read
//   made at once: the bitmap keeps what it held.
// - A copy from the screen into a fresh screen-format bitmap is read from the server when the
//   bitmap is first used, and then kept: GetDIBits converts it straight into the caller's rows.
//   Unlike Windows, the bitmap therefore shows the screen as it was at that first use, not at
//   the BitBlt, and BitBlt has returned TRUE before the read: one the server refuses leaves the
//   bitmap black, as a failed BitBlt would. A grab uses the bitmap right after the copy.
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

#include "current_source.h"
#include "dib_rows.h"
#include "screen/portal/portal_screen.h"
#include "screen/screencopy/screencopy_screen.h"
#include "screen/x11/x_display.h"
#include "screen_census.h"

namespace {

const uint32_t white = 0x00FFFFFF;
const uint64_t largest_bitmap_bytes = uint64_t{1} << 30;

// A bitmap holds its pixels as 32-bit rows, or as a screen read not converted yet (the common
// grab reads the screen once, straight into the caller's rows), or nothing: then it is black.
struct Bitmap {
    Bitmap(int width, int height, bool monochrome) : width(width), height(height), monochrome(monochrome) {}

    const int width;
    const int height;
    const bool monochrome;
    std::mutex use;  // held while a call works on the pixels

    // A copy from the screen at (x, y) not read yet, of the rectangle at (from_x, from_y).
    struct Pending {
        std::shared_ptr<screen::Source> source;
        int x, y, from_x, from_y, columns, rows;
    };

    bool fresh() const { return !pixels && !pending && !shot; }

    void defer(Pending read) { pending = std::make_unique<Pending>(std::move(read)); }

    // Writes row y as 32-bit pixels.
    void write_row(int y, uint32_t* to) {
        develop();
        if (pixels) {
            std::copy_n(row(y), width, to);
            return;
        }
        const int from_row = shot ? y - shot_y - shot->top : -1;
        if (from_row < 0 || from_row >= shot->rows) {
            std::fill_n(to, width, 0u);
            return;
        }
        const int left = shot_x + shot->left, right = left + shot->columns;
        std::fill(to, to + left, 0u);
        shot->convert_row(from_row, to + left);
        std::fill(to + right, to + width, 0u);
    }

    // The pixels as rows of this bitmap, for copies into or out of it.
    // Only once own_pixels() has succeeded.
    uint32_t* row(int y) const { return pixels.get() + static_cast<size_t>(y) * static_cast<size_t>(width); }

    // False when there is no memory for them.
    bool own_pixels() {
        develop();
        if (pixels) return true;
        pixels.reset(static_cast<uint32_t*>(std::calloc(static_cast<size_t>(width) * static_cast<size_t>(height), 4)));
        if (!pixels) return false;
        if (shot)
            for (int r = 0; r < shot->rows; ++r) shot->convert_row(r, row(shot_y + shot->top + r) + shot_x + shot->left);
        shot = nullptr;
        return true;
    }

private:
    // Reads a deferred copy from the server.
    void develop() {
        if (!pending) return;
        shot = pending->source->shoot(pending->from_x, pending->from_y, pending->columns, pending->rows);
        shot_x = pending->x;
        shot_y = pending->y;
        pending = nullptr;
    }

    std::unique_ptr<uint32_t[], decltype(&std::free)> pixels{nullptr, &std::free};  // rows from the top
    std::unique_ptr<Pending> pending;
    std::unique_ptr<screen::Shot> shot;
    int shot_x = 0, shot_y = 0;
};

std::shared_ptr<Bitmap> fresh_bitmap(int width, int height, bool monochrome) {
    return std::make_shared<Bitmap>(width, height, monochrome);
}

struct Context {
    std::shared_ptr<screen::Source> display;  // the screen's context from GetWindowDC
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

// Writes a row of 32-bit pixels into the bitmap at (x, y), which the caller has clipped.
void place(Bitmap& to, int x, int y, const uint32_t* from, int width) {
    uint32_t* target = to.row(y) + x;
    if (to.monochrome)
        std::transform(from, from + width, target, [](uint32_t p) { return (p & white) == white ? white : 0; });
    else
        std::copy_n(from, width, target);
}

// The first and one-past-last offsets along one axis at which both the source and the
// destination are covered; 64-bit, so coordinates near the ends of int cannot wrap.
std::pair<int, int> overlap(int length, int to, int to_size, int from, int from_size) {
    int64_t first = std::min<int64_t>(length, std::max<int64_t>({0, -int64_t{to}, -int64_t{from}}));
    int64_t last = std::min<int64_t>({length, int64_t{to_size} - to, int64_t{from_size} - from});
    return {static_cast<int>(first), static_cast<int>(std::max(first, last))};
}

// BitBlt from the screen. The screen's size is known only once the server answers, so the
// rectangle is clipped here to the destination alone, and to the screen by the read.
BOOL copy_from_screen(Bitmap& to, int x, int y, int width, int height, std::shared_ptr<screen::Source> source, int srcX,
                      int srcY) {
    if (!source->readable()) return FALSE;
    auto [left, right] = overlap(width, x, to.width, srcX, INT32_MAX);
    auto [top, bottom] = overlap(height, y, to.height, srcY, INT32_MAX);
    const int columns = right - left, rows = bottom - top;
    if (!columns || !rows) return TRUE;
    std::lock_guard<std::mutex> hold(to.use);
    if (to.fresh() && !to.monochrome) {
        to.defer({std::move(source), x + left, y + top, srcX + left, srcY + top, columns, rows});
        return TRUE;
    }
    std::unique_ptr<screen::Shot> shot = source->shoot(srcX + left, srcY + top, columns, rows);
    if (!shot || !to.own_pixels()) return FALSE;
    std::vector<uint32_t> line(static_cast<size_t>(shot->columns));
    for (int row = 0; row < shot->rows; ++row) {
        shot->convert_row(row, line.data());
        place(to, x + left + shot->left, y + top + shot->top + row, line.data(), shot->columns);
    }
    return TRUE;
}

}  // namespace

HDC WINAPI GetWindowDC(HWND window) {
    // There are no windows here, only the screen.
    if (window) return nullptr;
    std::shared_ptr<screen::Source> display = screen::current_source();
    if (!display) return nullptr;
    Objects& o = objects();
    std::lock_guard<std::mutex> hold(o.lock);
    return as_dc(o.add(Context{std::move(display)}));
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    std::shared_ptr<screen::Source> display;  // let go of after the lock: it may close the connection
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
    std::shared_ptr<screen::Source> from_screen;
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
            from_screen = source->display;
    }
    if (from_screen) return copy_from_screen(*to, x, y, width, height, std::move(from_screen), srcX, srcY);

    // Through a copy, since the source may be the destination itself.
    std::unique_lock<std::mutex> hold_to(to->use, std::defer_lock), hold_from(from->use, std::defer_lock);
    if (from == to)
        hold_to.lock();
    else
        std::lock(hold_to, hold_from);
    auto [left, right] = overlap(width, x, to->width, srcX, from->width);
    auto [top, bottom] = overlap(height, y, to->height, srcY, from->height);
    const int columns = right - left, rows = bottom - top;
    if (!columns || !rows) return TRUE;
    std::vector<uint32_t> copy(static_cast<size_t>(columns) * static_cast<size_t>(rows));
    if (!from->fresh()) {
        if (!from->own_pixels()) return FALSE;
        for (int row = 0; row < rows; ++row)
            std::copy_n(from->row(srcY + top + row) + srcX + left, columns, copy.data() + static_cast<size_t>(row) * columns);
    }
    if (!to->own_pixels()) return FALSE;
    for (int row = 0; row < rows; ++row)
        place(*to, x + left, y + top + row, copy.data() + static_cast<size_t>(row) * columns, columns);
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
    std::lock_guard<std::mutex> hold(source->use);
    return copy_dib_rows(startScan, lines, bits, info, usage, source->width, source->height,
                         [&source](int row, uint32_t* to) { source->write_row(row, to); });
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
    census.segments = display.segments;
    census.shm_reads = display.shm_reads;
    census.plain_reads = display.plain_reads;
    census.portal_sessions = portal::sessions_begun();
    census.screencopy_copies = screencopy::copies_made();
    return census;
}

}  // namespace host
