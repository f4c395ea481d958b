#include "protocols.h"

namespace screencopy {
namespace {

const Protocols& make(const Wayland& w) {
    static Protocols p;
    static const wl_interface* nulls[4] = {};
    static const wl_interface* capture[7] = {&p.screencopy_frame, nullptr, w.output_interface};
    static const wl_interface* copy[1] = {w.buffer_interface};
    static const wl_interface* get_xdg_output[2] = {&p.xdg_output, w.output_interface};

    static const wl_message manager_requests[] = {
        {"capture_output", "nio", capture}, {"capture_output_region", "nioiiii", capture}, {"destroy", "", nulls}};
    static const wl_message frame_requests[] = {
        {"copy", "o", copy}, {"destroy", "", nulls}, {"copy_with_damage", "2o", copy}};
    static const wl_message frame_events[] = {
        {"buffer", "uuuu", nulls}, {"flags", "u", nulls}, {"ready", "uuu", nulls}, {"failed", "", nulls},
        {"damage", "2uuuu", nulls}, {"linux_dmabuf", "3uuu", nulls}, {"buffer_done", "3", nulls}};
    static const wl_message xdg_manager_requests[] = {{"destroy", "", nulls}, {"get_xdg_output", "no", get_xdg_output}};
    static const wl_message xdg_output_requests[] = {{"destroy", "", nulls}};
    static const wl_message xdg_output_events[] = {{"logical_position", "ii", nulls}, {"logical_size", "ii", nulls},
                                                   {"done", "", nulls}, {"name", "2s", nulls},
                                                   {"description", "2s", nulls}};

    p.screencopy_manager = {"zwlr_screencopy_manager_v1", 3, 3, manager_requests, 0, nullptr};
    p.screencopy_frame = {"zwlr_screencopy_frame_v1", 3, 3, frame_requests, 7, frame_events};
    p.xdg_output_manager = {"zxdg_output_manager_v1", 3, 2, xdg_manager_requests, 0, nullptr};
    p.xdg_output = {"zxdg_output_v1", 3, 1, xdg_output_requests, 5, xdg_output_events};
    return p;
}

}  // namespace

const Protocols& protocols(const Wayland& w) {
    static const Protocols& made = make(w);
    return made;
}

}  // namespace screencopy
