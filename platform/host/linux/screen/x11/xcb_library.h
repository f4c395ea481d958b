// libxcb and libxcb-shm, opened with dlopen on first use rather than linked, so the backend
// loads on a machine without the X libraries; there the screen simply has no display.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace x11 {

struct Xcb {
    decltype(&xcb_connect) connect;
    decltype(&xcb_disconnect) disconnect;
    decltype(&xcb_connection_has_error) connection_has_error;
    decltype(&xcb_flush) flush;
    decltype(&xcb_get_file_descriptor) get_file_descriptor;
    decltype(&xcb_generate_id) generate_id;
    decltype(&xcb_get_setup) get_setup;
    decltype(&xcb_get_extension_data) get_extension_data;
    decltype(&xcb_request_check) request_check;
    decltype(&xcb_discard_reply) discard_reply;
    decltype(&xcb_poll_for_reply) poll_for_reply;
    decltype(&xcb_prefetch_extension_data) prefetch_extension_data;
    decltype(&xcb_get_input_focus) get_input_focus;
    decltype(&xcb_get_geometry) get_geometry;
    decltype(&xcb_get_image) get_image;
    decltype(&xcb_get_image_data) get_image_data;
    decltype(&xcb_get_image_data_length) get_image_data_length;

    // MIT-SHM; shm_id is null when libxcb-shm is missing, and the screen reads without it.
    xcb_extension_t* shm_id;
    decltype(&xcb_shm_attach_checked) shm_attach_checked;
    decltype(&xcb_shm_detach_checked) shm_detach_checked;
    decltype(&xcb_shm_get_image) shm_get_image;
};

// The table, or null when libxcb cannot be loaded. Loaded once, kept for the process.
const Xcb* xcb();

}  // namespace x11
