#include "monitor_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace screen {
namespace {

int64_t at_scale(int64_t logical, double scale) { return static_cast<int64_t>(std::llround(double(logical) * scale)); }

struct Axis {
    int64_t start, length, frame;  // logical start and length, physical length
    double scale() const { return length > 0 ? double(frame) / double(length) : 1.0; }
    int64_t end() const { return start + length; }
};

class Layout {
public:
    explicit Layout(const std::vector<MonitorSize>& monitors) {
        for (const MonitorSize& m : monitors) {
            axes[0].push_back({m.x, m.width > 0 ? m.width : m.frame_width, m.frame_width});
            axes[1].push_back({m.y, m.height > 0 ? m.height : m.frame_height, m.frame_height});
        }
        for (auto& found : placed) found.assign(monitors.size(), unplaced);
    }

    int64_t position(int axis, size_t m) {
        int64_t& at = placed[axis][m];
        if (at == visiting) return scaled(axis, m, m, 0);  // a layout that loops: no neighbour counts
        if (at != unplaced) return at;
        at = visiting;
        const Axis& me = axes[axis][m];
        // After the nearest monitors before it; of several that end there, the furthest physically.
        const size_t nearest = after_on(axis, m);
        int64_t best = std::numeric_limits<int64_t>::min();
        for (size_t n = 0; n < axes[axis].size(); ++n)
            if (nearest != m && before(axis, n, m) && axes[axis][n].end() == axes[axis][nearest].end()) {
                const Axis& them = axes[axis][n];
                best = std::max(best, position(axis, n) + them.frame + at_scale(me.start - them.end(), them.scale()));
            }
        if (nearest == m) {
            const size_t beside = after_on(1 - axis, m);
            best = beside == m ? scaled(axis, m, m, 0) : scaled(axis, m, beside, position(axis, beside));
        }
        return at = best;
    }

private:
    static constexpr int64_t unplaced = std::numeric_limits<int64_t>::min(), visiting = unplaced + 1;

    // Whether monitor n ends at or before monitor m starts on `axis`, sharing the other axis.
    bool before(int axis, size_t n, size_t m) const {
        const Axis &a = axes[axis][n], &b = axes[axis][m];
        const Axis &ao = axes[1 - axis][n], &bo = axes[1 - axis][m];
        return n != m && a.end() <= b.start && ao.start < bo.end() && bo.start < ao.end();
    }

    // A monitor that m is placed right after on `axis` (one ending last before it), or m itself.
    size_t after_on(int axis, size_t m) const {
        size_t found = m;
        for (size_t n = 0; n < axes[axis].size(); ++n)
            if (before(axis, n, m) && (found == m || axes[axis][n].end() > axes[axis][found].end())) found = n;
        return found;
    }

    // Monitor m's start, offset from monitor `from` (physically at `from_at`) at from's scale.
    int64_t scaled(int axis, size_t m, size_t from, int64_t from_at) const {
        const Axis& f = axes[axis][from];
        const int64_t offset = from == m ? f.start : axes[axis][m].start - f.start;
        return from_at + at_scale(offset, f.scale());
    }

    std::vector<Axis> axes[2];
    std::vector<int64_t> placed[2];
};

int clamp(int64_t v) {
    return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, std::numeric_limits<int>::min()), std::numeric_limits<int>::max()));
}

}  // namespace

std::vector<Position> physical_layout(const std::vector<MonitorSize>& monitors) {
    Layout layout(monitors);
    std::vector<Position> positions;
    for (size_t m = 0; m < monitors.size(); ++m) positions.push_back({clamp(layout.position(0, m)), clamp(layout.position(1, m))});
    return positions;
}

}  // namespace screen
