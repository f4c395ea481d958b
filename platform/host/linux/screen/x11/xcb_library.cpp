#include "xcb_library.h"

#include "runtime/shared_library.h"

namespace x11 {
namespace {

using host::bind;
using host::slot;

Xcb load() {
    Xcb x{};
    bool core = bind("libxcb.so.1",
        slot(x.connect, "xcb_connect"), slot(x.disconnect, "xcb_disconnect"),
        slot(x.connection_has_error, "xcb_connection_has_error"), slot(x.flush, "xcb_flush"),
        slot(x.get_file_descriptor, "xcb_get_file_descriptor"),
        slot(x.generate_id, "xcb_generate_id"), slot(x.get_setup, "xcb_get_setup"),
        slot(x.get_extension_data, "xcb_get_extension_data"),
        slot(x.request_check, "xcb_request_check"), slot(x.discard_reply, "xcb_discard_reply"),
        slot(x.get_geometry, "xcb_get_geometry"), slot(x.poll_for_reply, "xcb_poll_for_reply"),
        slot(x.get_image, "xcb_get_image"), slot(x.get_input_focus, "xcb_get_input_focus"),
        slot(x.prefetch_extension_data, "xcb_prefetch_extension_data"),
        slot(x.get_image_data, "xcb_get_image_data"), slot(x.get_image_data_length, "xcb_get_image_data_length"));
    if (!core) return x;
    void* shm_id = nullptr;
    bool shm = bind("libxcb-shm.so.0", slot(shm_id, "xcb_shm_id"),
        slot(x.shm_attach_checked, "xcb_shm_attach_checked"), slot(x.shm_detach_checked, "xcb_shm_detach_checked"),
        slot(x.shm_get_image, "xcb_shm_get_image"));
    if (shm) x.shm_id = static_cast<xcb_extension_t*>(shm_id);
    return x;
}

}  // namespace

const Xcb* xcb() {
    static const Xcb loaded = load();
    return loaded.connect ? &loaded : nullptr;
}

}  // namespace x11
