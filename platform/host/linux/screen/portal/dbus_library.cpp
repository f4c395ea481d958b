#include "dbus_library.h"

#include "runtime/shared_library.h"

namespace portal {
namespace {

using host::slot;

DBus load() {
    DBus d{};
    bool loaded = host::bind("libdbus-1.so.3",
        slot(d.threads_init_default, "dbus_threads_init_default"), slot(d.error_init, "dbus_error_init"),
        slot(d.error_free, "dbus_error_free"), slot(d.connection_open_private, "dbus_connection_open_private"),
        slot(d.bus_register, "dbus_bus_register"), slot(d.bus_get_unique_name, "dbus_bus_get_unique_name"),
        slot(d.bus_add_match, "dbus_bus_add_match"),
        slot(d.connection_set_exit_on_disconnect, "dbus_connection_set_exit_on_disconnect"),
        slot(d.connection_close, "dbus_connection_close"), slot(d.connection_unref, "dbus_connection_unref"),
        slot(d.connection_send_with_reply_and_block, "dbus_connection_send_with_reply_and_block"),
        slot(d.connection_read_write, "dbus_connection_read_write"),
        slot(d.connection_pop_message, "dbus_connection_pop_message"),
        slot(d.message_new_method_call, "dbus_message_new_method_call"), slot(d.message_unref, "dbus_message_unref"),
        slot(d.message_is_signal, "dbus_message_is_signal"), slot(d.message_get_path, "dbus_message_get_path"),
        slot(d.message_get_sender, "dbus_message_get_sender"),
        slot(d.message_iter_init, "dbus_message_iter_init"),
        slot(d.message_iter_init_append, "dbus_message_iter_init_append"),
        slot(d.message_iter_append_basic, "dbus_message_iter_append_basic"),
        slot(d.message_iter_open_container, "dbus_message_iter_open_container"),
        slot(d.message_iter_close_container, "dbus_message_iter_close_container"),
        slot(d.message_iter_get_arg_type, "dbus_message_iter_get_arg_type"),
        slot(d.message_iter_get_basic, "dbus_message_iter_get_basic"),
        slot(d.message_iter_recurse, "dbus_message_iter_recurse"), slot(d.message_iter_next, "dbus_message_iter_next"));
    // Other threads of the process may use libdbus too.
    if (loaded && !d.threads_init_default()) return DBus{};
    return d;
}

}  // namespace

const DBus* dbus() {
    static const DBus loaded = load();
    return loaded.connection_open_private ? &loaded : nullptr;
}

}  // namespace portal
