// A PulseAudio server of a test's own, so that it can lack a source or be killed mid-capture
// without touching the environment's server that the other tests record from.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

class PrivateServer {
public:
    // With a source, the server's only sink is a null sink whose monitor is the default source.
    explicit PrivateServer(bool withSource) {
        char dir[] = "/tmp/pulse-test.XXXXXX";
        dir_ = mkdtemp(dir);
        socket_ = dir_ + "/native";
        std::string protocol = "module-native-protocol-unix socket=" + socket_;
        pid_ = fork();
        if (pid_ == 0) {
            setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
            const char* argv[] = {"pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
                                  "--disallow-exit", "--disable-shm=yes", "-L", protocol.c_str(),
                                  withSource ? "-L" : nullptr, "module-null-sink", nullptr};
            execvp("pulseaudio", const_cast<char**>(argv));
            _exit(127);
        }
        for (int i = 0; i < 200 && access(socket_.c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    }
    ~PrivateServer() {
        kill();
        std::system(("rm -rf " + dir_).c_str());
    }
    bool running() const { return pid_ > 0 && access(socket_.c_str(), F_OK) == 0; }
    // The server stops answering, and later goes on.
    void pause() const { ::kill(pid_, SIGSTOP); }
    void resume() const { ::kill(pid_, SIGCONT); }
    // Runs `pactl COMMAND` against this server; true when it succeeded.
    bool pactl(const std::string& command) const {
        return std::system(("pactl -s unix:" + socket_ + " " + command + " >/dev/null 2>&1").c_str()) == 0;
    }
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    std::string dir_, socket_;
    pid_t pid_ = -1;
};
