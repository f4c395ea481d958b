// A session bus of our own, a desktop portal on it that answers a ScreenCast session the way
// xdg-desktop-portal does, and peers with no rights that answer in the portal's place.
#pragma once

#include <dbus/dbus.h>
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// dbus-daemon on a socket of its own, until destroyed; address() is empty if none came up.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    const std::string& address() const { return address_; }

private:
    pid_t pid = -1;
    std::string folder, address_;
};

// A connection of its own to the bus.
DBusConnection* connect_to(const std::string& address);

// Appends the results of a Response: an a{sv} that `fill` writes through the iterator inside it.
using Results = std::function<void(DBusMessageIter* array)>;
void add_string_option(DBusMessageIter* array, const char* key, const char* value, int type = DBUS_TYPE_STRING);
// "streams": a(ua{sv}), one stream of that node at that position and size.
void add_stream_option(DBusMessageIter* array, uint32_t node, int x, int y, int width, int height);

// Sends Response(code, results) on `path`: to `destination` alone, or to every peer whose match
// rules take it when that is empty.
void send_response(DBusConnection* from, const std::string& destination, const std::string& path, uint32_t code,
                   const Results& results);
// Returns once the bus has passed on everything `from` sent.
void wait_until_passed(DBusConnection* from);

// A peer of the bus that, for `seconds` after each connection comes, answers every request that
// connection may make first, as fast as it can: by name and to whoever listens, with a refusal
// or with a session handle that is no object path.
class Forger {
public:
    Forger(const std::string& address, int seconds);
    ~Forger();
    Forger(const Forger&) = delete;
    Forger& operator=(const Forger&) = delete;
    int sent() const { return forged; }

private:
    void forge(int seconds);

    DBusConnection* connection;
    std::atomic<bool> stopping{false};
    std::atomic<int> forged{0};
    std::thread thread;
};

// org.freedesktop.portal.Desktop with ScreenCast version 4. Each request is answered with a
// Response of code 0 after `before_answer(method, caller, request path)` has run: CreateSession
// with the session path the portal makes of the token (or with `session_handle` if set), Start
// with one stream, node 42 at (0, 0), 64 x 48. OpenPipeWireRemote gives /dev/null.
class StubPortal {
public:
    using Hook = std::function<void(const std::string& method, const std::string& caller, const std::string& path)>;
    StubPortal(const std::string& address, Hook before_answer);
    ~StubPortal();
    StubPortal(const StubPortal&) = delete;
    StubPortal& operator=(const StubPortal&) = delete;

    bool running() const { return connection != nullptr; }
    Results session_handle;  // what CreateSession's results hold instead, when set

private:
    void serve();
    void answer(DBusMessage* call);

    DBusConnection* connection = nullptr;
    Hook before_answer;
    std::atomic<bool> stopping{false};
    std::thread thread;
};
