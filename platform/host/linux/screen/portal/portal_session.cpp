#include "portal_session.h"

#include <windows.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "dbus_library.h"
#include "restore_token.h"

namespace portal {
namespace {

const char* const desktop = "org.freedesktop.portal.Desktop";
const char* const desktop_path = "/org/freedesktop/portal/desktop";
const char* const screencast = "org.freedesktop.portal.ScreenCast";

const uint32_t monitor_sources = 1;
const uint32_t cursor_hidden = 1;
const uint32_t persist_until_revoked = 2;
const uint32_t response_declined = 1;

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus()->message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// Appends an a{sv} of options, each written by its own function.
class Options {
public:
    explicit Options(DBusMessageIter* args) : d(*dbus()) {
        d.message_iter_open_container(args, DBUS_TYPE_ARRAY, "{sv}", &array);
        parent = args;
    }
    ~Options() { d.message_iter_close_container(parent, &array); }

    void add(const char* key, int type, const void* value) {
        const char signature[2] = {static_cast<char>(type), 0};
        DBusMessageIter entry, variant;
        d.message_iter_open_container(&array, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        d.message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
        d.message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
        d.message_iter_append_basic(&variant, type, value);
        d.message_iter_close_container(&entry, &variant);
        d.message_iter_close_container(&array, &entry);
    }
    void add_string(const char* key, const std::string& value) {
        const char* text = value.c_str();
        add(key, DBUS_TYPE_STRING, &text);
    }
    void add_uint(const char* key, uint32_t value) { add(key, DBUS_TYPE_UINT32, &value); }
    void add_bool(const char* key, bool value) {
        dbus_bool_t flag = value;
        add(key, DBUS_TYPE_BOOLEAN, &flag);
    }

private:
    const DBus& d;
    DBusMessageIter* parent;
    DBusMessageIter array;
};

// Calls each entry of an a{sv} with its key and the iterator inside its variant.
void for_each_option(DBusMessageIter* array, const std::function<void(const char*, DBusMessageIter*)>& visit) {
    const DBus& d = *dbus();
    if (d.message_iter_get_arg_type(array) != DBUS_TYPE_ARRAY) return;
    DBusMessageIter entries;
    d.message_iter_recurse(array, &entries);
    for (; d.message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY; d.message_iter_next(&entries)) {
        DBusMessageIter entry, value;
        d.message_iter_recurse(&entries, &entry);
        if (d.message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) continue;
        const char* key;
        d.message_iter_get_basic(&entry, &key);
        d.message_iter_next(&entry);
        if (d.message_iter_get_arg_type(&entry) != DBUS_TYPE_VARIANT) continue;
        d.message_iter_recurse(&entry, &value);
        visit(key, &value);
    }
}

bool read_string(DBusMessageIter* value, std::string& to) {
    const DBus& d = *dbus();
    int type = d.message_iter_get_arg_type(value);
    if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) return false;
    const char* text;
    d.message_iter_get_basic(value, &text);
    to = text;
    return true;
}

// Reads an (ii) pair.
bool read_pair(DBusMessageIter* value, int& first, int& second) {
    const DBus& d = *dbus();
    if (d.message_iter_get_arg_type(value) != DBUS_TYPE_STRUCT) return false;
    DBusMessageIter fields;
    d.message_iter_recurse(value, &fields);
    if (d.message_iter_get_arg_type(&fields) != DBUS_TYPE_INT32) return false;
    d.message_iter_get_basic(&fields, &first);
    d.message_iter_next(&fields);
    if (d.message_iter_get_arg_type(&fields) != DBUS_TYPE_INT32) return false;
    d.message_iter_get_basic(&fields, &second);
    return true;
}

// The streams of Start's answer, a(ua{sv}).
std::vector<Monitor> read_streams(DBusMessageIter* value) {
    const DBus& d = *dbus();
    std::vector<Monitor> monitors;
    if (d.message_iter_get_arg_type(value) != DBUS_TYPE_ARRAY) return monitors;
    DBusMessageIter streams;
    d.message_iter_recurse(value, &streams);
    for (; d.message_iter_get_arg_type(&streams) == DBUS_TYPE_STRUCT; d.message_iter_next(&streams)) {
        DBusMessageIter stream;
        d.message_iter_recurse(&streams, &stream);
        if (d.message_iter_get_arg_type(&stream) != DBUS_TYPE_UINT32) continue;
        Monitor monitor{0, 0, 0, 0, 0};
        d.message_iter_get_basic(&stream, &monitor.node);
        d.message_iter_next(&stream);
        for_each_option(&stream, [&](const char* key, DBusMessageIter* v) {
            if (!std::strcmp(key, "position")) read_pair(v, monitor.x, monitor.y);
            if (!std::strcmp(key, "size")) read_pair(v, monitor.width, monitor.height);
        });
        monitors.push_back(monitor);
    }
    return monitors;
}

std::string bus_address() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS")) return address;
    // Where a systemd user session keeps it; never a bus launched for us, which would outlive us.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime) return {};
    std::string socket = std::string(runtime) + "/bus";
    return access(socket.c_str(), F_OK) == 0 ? "unix:path=" + socket : std::string{};
}

// One conversation with the portal on a private connection. Any peer on the bus may send us a
// signal, and the paths of our requests are plain to see: an answer counts only when it comes
// from the connection that owns the portal's name, and nothing in it is used unchecked.
class Handshake {
public:
    explicit Handshake(DBusConnection* bus) : d(*dbus()), bus(bus) {
        std::string name = d.bus_get_unique_name(bus);
        for (char c : name.substr(1)) caller += c == '.' ? '_' : c;
    }

    // Learns which connection is the portal, once it runs (the version's call starts it if need
    // be); false when none owns its name.
    bool find_portal(unsigned timeout_ms) {
        Message call(d.message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                               "GetNameOwner"));
        if (!call) return false;
        DBusMessageIter args;
        d.message_iter_init_append(call.get(), &args);
        d.message_iter_append_basic(&args, DBUS_TYPE_STRING, &desktop);
        Message reply = call_now(call.get(), timeout_ms);
        DBusMessageIter value;
        // The bus itself answers this, and no peer can answer in its name.
        return reply && d.message_iter_init(reply.get(), &value) && read_string(&value, portal) && !portal.empty();
    }

    // The object path the portal gives a session of ours named `token`.
    std::string session_path(const std::string& token) const {
        return std::string(desktop_path) + "/session/" + caller + "/" + token;
    }

    // The portal's ScreenCast version, 0 when there is no portal or it has no ScreenCast.
    uint32_t screencast_version(unsigned timeout_ms) {
        Message call(d.message_new_method_call(desktop, desktop_path, "org.freedesktop.DBus.Properties", "Get"));
        if (!call) return 0;
        const char* interface = screencast;
        const char* property = "version";
        DBusMessageIter args;
        d.message_iter_init_append(call.get(), &args);
        d.message_iter_append_basic(&args, DBUS_TYPE_STRING, &interface);
        d.message_iter_append_basic(&args, DBUS_TYPE_STRING, &property);
        Message reply = call_now(call.get(), timeout_ms);
        DBusMessageIter value, inner;
        if (!reply || !d.message_iter_init(reply.get(), &value) ||
            d.message_iter_get_arg_type(&value) != DBUS_TYPE_VARIANT)
            return 0;
        d.message_iter_recurse(&value, &inner);
        if (d.message_iter_get_arg_type(&inner) != DBUS_TYPE_UINT32) return 0;
        uint32_t version = 0;
        d.message_iter_get_basic(&inner, &version);
        return version;
    }

    // Calls a ScreenCast method whose options get a handle_token, and waits for its Response.
    // `arguments` appends what comes before the options, `options` fills them. Returns the
    // answer's results, or null; `response` is the portal's code (0 granted, 1 declined).
    Message request(const char* method, const std::function<void(DBusMessageIter*)>& arguments,
                    const std::function<void(Options&)>& options, unsigned timeout_ms, uint32_t& response) {
        response = 2;
        std::string token = "orvanta" + std::to_string(++tokens);
        std::string path = std::string(desktop_path) + "/request/" + caller + "/" + token;
        std::string rule = "type='signal',sender='" + portal + "',interface='org.freedesktop.portal.Request',"
                           "member='Response',path='" + path + "'";
        DBusError error;
        d.error_init(&error);
        d.bus_add_match(bus, rule.c_str(), &error);
        bool matched = !error.name;
        d.error_free(&error);
        if (!matched) return nullptr;

        Message call(d.message_new_method_call(desktop, desktop_path, screencast, method));
        if (!call) return nullptr;
        DBusMessageIter args;
        d.message_iter_init_append(call.get(), &args);
        arguments(&args);
        {
            Options o(&args);
            o.add_string("handle_token", token);
            options(o);
        }
        const DWORD start = GetTickCount();
        if (!call_now(call.get(), timeout_ms)) return nullptr;
        Message answer = wait_for_response(path, start, timeout_ms);
        DBusMessageIter results;
        if (!answer || !d.message_iter_init(answer.get(), &results) ||
            d.message_iter_get_arg_type(&results) != DBUS_TYPE_UINT32)
            return nullptr;
        d.message_iter_get_basic(&results, &response);
        return answer;
    }

    // A method call answered at once, with its reply or null.
    Message call_now(DBusMessage* call, unsigned timeout_ms) {
        DBusError error;
        d.error_init(&error);
        Message reply(d.connection_send_with_reply_and_block(bus, call, static_cast<int>(timeout_ms), &error));
        d.error_free(&error);
        return reply;
    }

private:
    // A signal sent to us by name reaches us whatever our match rules say: the sender is checked
    // on each one.
    Message wait_for_response(const std::string& path, DWORD start, unsigned timeout_ms) {
        for (;;) {
            while (DBusMessage* incoming = d.connection_pop_message(bus)) {
                Message message(incoming);
                const char* at = d.message_get_path(incoming);
                const char* from = d.message_get_sender(incoming);
                if (d.message_is_signal(incoming, "org.freedesktop.portal.Request", "Response") && at && path == at &&
                    from && portal == from)
                    return message;
            }
            DWORD waited = GetTickCount() - start;
            if (waited >= timeout_ms || !d.connection_read_write(bus, static_cast<int>(timeout_ms - waited))) return nullptr;
        }
    }

    const DBus& d;
    DBusConnection* const bus;
    std::string caller;  // our unique name as the portal writes it in paths: ":1.42" is "1_42"
    std::string portal;  // the unique name of the portal's connection
    unsigned tokens = 0;
};

// A name of our own for each session, since one process may open several in turn.
std::string session_token() {
    static std::atomic<unsigned> sessions{0};
    return "orvanta_session" + std::to_string(getpid()) + "_" + std::to_string(++sessions);
}

}  // namespace

std::unique_ptr<Session> Session::open(Outcome& outcome, unsigned answer_ms, unsigned user_ms) {
    outcome = Outcome::unavailable;
    const DBus* d = dbus();
    std::string address = bus_address();
    if (!d || address.empty()) return nullptr;
    DBusError error;
    d->error_init(&error);
    DBusConnection* bus = d->connection_open_private(address.c_str(), &error);
    if (bus && !d->bus_register(bus, &error)) {
        d->connection_close(bus);
        d->connection_unref(bus);
        bus = nullptr;
    }
    d->error_free(&error);
    if (!bus) return nullptr;
    d->connection_set_exit_on_disconnect(bus, false);  // a bus that goes away must not end the JVM
    std::unique_ptr<Session> session(new Session(bus));

    Handshake portal(bus);
    const uint32_t version = portal.screencast_version(answer_ms);
    if (!version || !portal.find_portal(answer_ms)) return nullptr;
    outcome = Outcome::failed;
    uint32_t response;

    const std::string session_name = session_token();
    Message created = portal.request("CreateSession", [](DBusMessageIter*) {},
        [&](Options& o) { o.add_string("session_handle_token", session_name); }, answer_ms, response);
    std::string handle;
    if (created && !response) {
        DBusMessageIter results;
        d->message_iter_init(created.get(), &results);
        d->message_iter_next(&results);
        for_each_option(&results, [&](const char* key, DBusMessageIter* v) {
            if (!std::strcmp(key, "session_handle")) read_string(v, handle);
        });
    }
    // The handle goes out as an object path, which libdbus would end the process on if it were
    // not one: only the path the portal makes of our own token is taken.
    if (handle.empty() || handle != portal.session_path(session_name)) {
        if (created && response == response_declined) outcome = Outcome::declined;
        return nullptr;
    }
    const char* session_path = handle.c_str();
    auto with_session = [d, session_path](DBusMessageIter* args) {
        d->message_iter_append_basic(args, DBUS_TYPE_OBJECT_PATH, &session_path);
    };

    const std::string token_file = restore_token_file();
    const std::string restore = read_restore_token(token_file);
    Message selected = portal.request("SelectSources", with_session, [&](Options& o) {
        o.add_uint("types", monitor_sources);
        o.add_bool("multiple", true);
        if (version >= 2) o.add_uint("cursor_mode", cursor_hidden);
        if (version >= 4) {
            o.add_uint("persist_mode", persist_until_revoked);
            if (!restore.empty()) o.add_string("restore_token", restore);
        }
    }, answer_ms, response);
    if (!selected || response) {
        if (selected && response == response_declined) outcome = Outcome::declined;
        return nullptr;
    }

    Message started = portal.request("Start", [&](DBusMessageIter* args) {
        with_session(args);
        const char* no_parent_window = "";
        d->message_iter_append_basic(args, DBUS_TYPE_STRING, &no_parent_window);
    }, [](Options&) {}, user_ms, response);
    if (!started || response) {
        if (started && response == response_declined) outcome = Outcome::declined;
        return nullptr;
    }
    DBusMessageIter results;
    d->message_iter_init(started.get(), &results);
    d->message_iter_next(&results);
    std::string token;
    for_each_option(&results, [&](const char* key, DBusMessageIter* v) {
        if (!std::strcmp(key, "streams")) session->shown = read_streams(v);
        if (!std::strcmp(key, "restore_token")) read_string(v, token);
    });
    if (!token.empty() && token != restore) keep_restore_token(token_file, token);
    if (session->shown.empty()) return nullptr;

    Message call(d->message_new_method_call(desktop, desktop_path, screencast, "OpenPipeWireRemote"));
    if (!call) return nullptr;
    DBusMessageIter args;
    d->message_iter_init_append(call.get(), &args);
    with_session(&args);
    { Options none(&args); }
    Message reply = portal.call_now(call.get(), answer_ms);
    DBusMessageIter value;
    if (!reply || !d->message_iter_init(reply.get(), &value) || d->message_iter_get_arg_type(&value) != DBUS_TYPE_UNIX_FD)
        return nullptr;
    d->message_iter_get_basic(&value, &session->pipewire_fd);
    outcome = Outcome::started;
    return session;
}

Session::~Session() {
    if (pipewire_fd >= 0) close(pipewire_fd);
    dbus()->connection_close(bus);
    dbus()->connection_unref(bus);
}

int Session::take_pipewire_fd() {
    int fd = pipewire_fd;
    pipewire_fd = -1;
    return fd;
}

}  // namespace portal
