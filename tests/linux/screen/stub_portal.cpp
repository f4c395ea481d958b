#include "stub_portal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

const char* const desktop = "org.freedesktop.portal.Desktop";
const char* const desktop_path = "/org/freedesktop/portal/desktop";

// The name a path of the portal holds for a peer: ":1.42" is "1_42".
std::string in_path(const std::string& unique_name) {
    std::string written;
    for (char c : unique_name.substr(1)) written += c == '.' ? '_' : c;
    return written;
}

// The string values of the a{sv} options among a call's arguments, by key.
std::string option(DBusMessage* call, const char* wanted) {
    DBusMessageIter args;
    for (bool more = dbus_message_iter_init(call, &args); more; more = dbus_message_iter_next(&args)) {
        if (dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_ARRAY) continue;
        DBusMessageIter entries;
        dbus_message_iter_recurse(&args, &entries);
        for (; dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&entries)) {
            DBusMessageIter entry, value;
            dbus_message_iter_recurse(&entries, &entry);
            const char* key;
            dbus_message_iter_get_basic(&entry, &key);
            dbus_message_iter_next(&entry);
            dbus_message_iter_recurse(&entry, &value);
            if (std::strcmp(key, wanted) == 0 && dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_STRING) {
                const char* text;
                dbus_message_iter_get_basic(&value, &text);
                return text;
            }
        }
    }
    return {};
}

void open_variant(DBusMessageIter* array, const char* key, const char* signature, DBusMessageIter* entry,
                  DBusMessageIter* variant) {
    dbus_message_iter_open_container(array, DBUS_TYPE_DICT_ENTRY, nullptr, entry);
    dbus_message_iter_append_basic(entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(entry, DBUS_TYPE_VARIANT, signature, variant);
}

void close_variant(DBusMessageIter* array, DBusMessageIter* entry, DBusMessageIter* variant) {
    dbus_message_iter_close_container(entry, variant);
    dbus_message_iter_close_container(array, entry);
}

void add_pair(DBusMessageIter* array, const char* key, int first, int second) {
    DBusMessageIter entry, variant, pair;
    open_variant(array, key, "(ii)", &entry, &variant);
    dbus_message_iter_open_container(&variant, DBUS_TYPE_STRUCT, nullptr, &pair);
    dbus_message_iter_append_basic(&pair, DBUS_TYPE_INT32, &first);
    dbus_message_iter_append_basic(&pair, DBUS_TYPE_INT32, &second);
    dbus_message_iter_close_container(&variant, &pair);
    close_variant(array, &entry, &variant);
}

}  // namespace

PrivateBus::PrivateBus() {
    char name[] = "/tmp/private-bus.XXXXXX";
    if (!mkdtemp(name)) return;
    folder = name;
    int ready[2];
    if (pipe(ready) != 0) return;
    pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        close(ready[0]);
        const std::string listen = "--address=unix:path=" + folder + "/bus";
        const std::string print = "--print-address=" + std::to_string(ready[1]);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", listen.c_str(), print.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    // The daemon prints its address once it listens; a generous bound for a busy machine.
    pollfd wait{ready[0], POLLIN, 0};
    char c;
    std::string printed;
    while (pid > 0 && poll(&wait, 1, 30000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n') printed += c;
    close(ready[0]);
    address_ = printed;
}

PrivateBus::~PrivateBus() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    if (!folder.empty()) std::filesystem::remove_all(folder);
}

DBusConnection* connect_to(const std::string& address) {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_connection_open_private(address.c_str(), &error);
    if (connection && !dbus_bus_register(connection, &error)) {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        connection = nullptr;
    }
    dbus_error_free(&error);
    if (connection) dbus_connection_set_exit_on_disconnect(connection, false);
    return connection;
}

void add_string_option(DBusMessageIter* array, const char* key, const char* value, int type) {
    const char signature[2] = {static_cast<char>(type), 0};
    DBusMessageIter entry, variant;
    open_variant(array, key, signature, &entry, &variant);
    dbus_message_iter_append_basic(&variant, type, &value);
    close_variant(array, &entry, &variant);
}

void add_stream_option(DBusMessageIter* array, uint32_t node, int x, int y, int width, int height) {
    DBusMessageIter entry, variant, streams, stream, properties;
    open_variant(array, "streams", "a(ua{sv})", &entry, &variant);
    dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "(ua{sv})", &streams);
    dbus_message_iter_open_container(&streams, DBUS_TYPE_STRUCT, nullptr, &stream);
    dbus_message_iter_append_basic(&stream, DBUS_TYPE_UINT32, &node);
    dbus_message_iter_open_container(&stream, DBUS_TYPE_ARRAY, "{sv}", &properties);
    add_pair(&properties, "position", x, y);
    add_pair(&properties, "size", width, height);
    dbus_message_iter_close_container(&stream, &properties);
    dbus_message_iter_close_container(&streams, &stream);
    dbus_message_iter_close_container(&variant, &streams);
    close_variant(array, &entry, &variant);
}

void send_response(DBusConnection* from, const std::string& destination, const std::string& path, uint32_t code,
                   const Results& results) {
    DBusMessage* signal = dbus_message_new_signal(path.c_str(), "org.freedesktop.portal.Request", "Response");
    if (!destination.empty()) dbus_message_set_destination(signal, destination.c_str());
    DBusMessageIter args, array;
    dbus_message_iter_init_append(signal, &args);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &code);
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &array);
    if (results) results(&array);
    dbus_message_iter_close_container(&args, &array);
    dbus_connection_send(from, signal, nullptr);
    dbus_message_unref(signal);
}

void wait_until_passed(DBusConnection* from) {
    // The bus handles a peer's messages in order: once it answers this, it has passed the rest on.
    DBusMessage* ping = dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                     "org.freedesktop.DBus.Peer", "Ping");
    DBusMessage* pong = dbus_connection_send_with_reply_and_block(from, ping, 30000, nullptr);
    dbus_message_unref(ping);
    if (pong) dbus_message_unref(pong);
}

StubPortal::StubPortal(const std::string& address, Hook before_answer) : before_answer(std::move(before_answer)) {
    connection = connect_to(address);
    if (!connection) return;
    if (dbus_bus_request_name(connection, desktop, DBUS_NAME_FLAG_DO_NOT_QUEUE, nullptr) !=
        DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        connection = nullptr;
        return;
    }
    thread = std::thread([this] { serve(); });
}

StubPortal::~StubPortal() {
    stopping = true;
    if (thread.joinable()) thread.join();
    if (connection) {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
}

void StubPortal::serve() {
    while (!stopping && dbus_connection_read_write(connection, 20))
        while (DBusMessage* message = dbus_connection_pop_message(connection)) {
            if (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_METHOD_CALL) answer(message);
            dbus_message_unref(message);
        }
}

void StubPortal::answer(DBusMessage* call) {
    const std::string method = dbus_message_get_member(call);
    const std::string caller = dbus_message_get_sender(call);
    DBusMessage* reply = dbus_message_new_method_return(call);
    DBusMessageIter args;
    dbus_message_iter_init_append(reply, &args);
    if (dbus_message_is_method_call(call, "org.freedesktop.DBus.Properties", "Get")) {
        DBusMessageIter variant;
        const uint32_t version = 4;
        dbus_message_iter_open_container(&args, DBUS_TYPE_VARIANT, "u", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_UINT32, &version);
        dbus_message_iter_close_container(&args, &variant);
        dbus_connection_send(connection, reply, nullptr);
    } else if (method == "OpenPipeWireRemote") {
        int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
        dbus_message_iter_append_basic(&args, DBUS_TYPE_UNIX_FD, &fd);
        close(fd);
        dbus_connection_send(connection, reply, nullptr);
    } else {
        const std::string path = std::string(desktop_path) + "/request/" + in_path(caller) + "/" + option(call, "handle_token");
        const char* request = path.c_str();
        dbus_message_iter_append_basic(&args, DBUS_TYPE_OBJECT_PATH, &request);
        if (before_answer) before_answer(method, caller, path);
        dbus_connection_send(connection, reply, nullptr);  // after whatever the hook sent has arrived
        Results results;
        if (method == "CreateSession") {
            const std::string session = std::string(desktop_path) + "/session/" + in_path(caller) + "/" +
                                        option(call, "session_handle_token");
            results = session_handle ? session_handle : Results([session](DBusMessageIter* array) {
                add_string_option(array, "session_handle", session.c_str(), DBUS_TYPE_OBJECT_PATH);
            });
        } else if (method == "Start") {
            results = [](DBusMessageIter* array) { add_stream_option(array, 42, 0, 0, 64, 48); };
        }
        send_response(connection, caller, path, 0, results);
    }
    dbus_connection_flush(connection);
    dbus_message_unref(reply);
}

Forger::Forger(const std::string& address, int seconds) : connection(connect_to(address)) {
    if (!connection) return;
    dbus_bus_add_match(connection, "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged'", nullptr);
    thread = std::thread([this, seconds] { forge(seconds); });
}

Forger::~Forger() {
    stopping = true;
    if (thread.joinable()) thread.join();
    if (connection) {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
}

void Forger::forge(int seconds) {
    using Clock = std::chrono::steady_clock;
    std::map<std::string, Clock::time_point> victims;  // each new connection, and until when
    const std::string self = dbus_bus_get_unique_name(connection);
    const Results no_path = [](DBusMessageIter* array) { add_string_option(array, "session_handle", "not a path"); };
    while (!stopping && dbus_connection_read_write(connection, 1)) {
        while (DBusMessage* message = dbus_connection_pop_message(connection)) {
            const char *name = nullptr, *before = nullptr, *after = nullptr;
            if (dbus_message_is_signal(message, "org.freedesktop.DBus", "NameOwnerChanged") &&
                dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &before,
                                      DBUS_TYPE_STRING, &after, DBUS_TYPE_INVALID) &&
                name[0] == ':' && *after && self != name)
                victims[name] = Clock::now() + std::chrono::seconds(seconds);
            dbus_message_unref(message);
        }
        for (const auto& [name, until] : victims) {
            if (Clock::now() > until) continue;
            for (int token = 1; token <= 4; ++token) {
                const std::string path = std::string(desktop_path) + "/request/" + in_path(name) + "/orvanta" +
                                         std::to_string(token);
                send_response(connection, name, path, 1, nullptr);
                send_response(connection, name, path, 0, no_path);
                send_response(connection, "", path, 0, no_path);
                forged += 3;
            }
        }
        dbus_connection_flush(connection);
    }
}
