// A ScreenCast session of the desktop portal (org.freedesktop.portal.Desktop on the session
// bus): CreateSession, SelectSources (every monitor the portal allows, cursor hidden), Start and
// OpenPipeWireRemote, each answered through a Request object's Response signal, which counts only
// when the owner of the portal's name sent it. The session lasts as long as our private bus
// connection: closing it, or the process ending, ends it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct DBusConnection;

namespace portal {

// A monitor's stream, placed on the desktop where the portal says it lies.
struct Monitor {
    uint32_t node;  // the PipeWire node that carries its frames
    int x, y, width, height;
};

enum class Outcome {
    started,
    unavailable,  // no session bus, no libdbus, no portal, or a portal without ScreenCast
    declined,     // the user said no
    failed,       // anything else: an error, or no answer within the bound
};

class Session {
public:
    // Runs the handshake. Each answer of the desktop is waited for at most `answer_ms`; the
    // desktop's question to the user (Start) at most `user_ms`.
    static std::unique_ptr<Session> open(Outcome& outcome, unsigned answer_ms, unsigned user_ms);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The PipeWire connection the portal opened for us; ours to close. -1 once taken.
    int take_pipewire_fd();
    const std::vector<Monitor>& monitors() const { return shown; }

private:
    explicit Session(DBusConnection* bus) : bus(bus) {}

    DBusConnection* const bus;
    int pipewire_fd = -1;
    std::vector<Monitor> shown;
};

}  // namespace portal
