#include "restore_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace portal {

std::string restore_token_file() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::string folder = cache && *cache ? cache : home && *home ? std::string(home) + "/.cache" : std::string{};
    return folder.empty() ? folder : folder + "/orvanta/screencast-restore-token";
}

// Printable ASCII (the portal's tokens are UUIDs): libdbus ends the process on a string that is not
// UTF-8, and the file is the user's to spoil.
std::string read_restore_token(const std::string& file) {
    // O_NONBLOCK: a FIFO planted there must not hold the open (nor the read) until a writer comes.
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {};
    struct stat64 kept = {};  // fstat64: the one the shipped library binds to an old glibc (runtime/glibc_floor.cpp)
    const size_t most = restore_token_longest + 1;  // the token and its newline
    if (::fstat64(fd, &kept) != 0 || !S_ISREG(kept.st_mode) || kept.st_uid != ::geteuid() ||
        (kept.st_mode & 07777) != 0600 || kept.st_size <= 0 || static_cast<size_t>(kept.st_size) > most) {
        ::close(fd);
        return {};
    }
    char line[most + 1];  // one byte more: a file that grew since fstat is refused for its length
    size_t got = 0;
    for (ssize_t n; got < sizeof line && (n = ::read(fd, line + got, sizeof line - got)) > 0;) got += n;
    ::close(fd);
    std::string token(line, std::find(line, line + got, '\n'));
    const bool printable = std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7F; });
    return got <= most && token.size() <= restore_token_longest && printable ? token : std::string{};
}

void keep_restore_token(const std::string& file, const std::string& token) {
    if (file.empty()) return;
    std::string folder = file.substr(0, file.rfind('/'));
    mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    std::string draft = file + "." + std::to_string(getpid());
    ::unlink(draft.c_str());
    int fd = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string line = token + '\n';
    bool written = ::fchmod(fd, 0600) == 0 &&  // whatever the umask took away
                   ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (::close(fd) != 0 || !written) {
        ::unlink(draft.c_str());
        return;
    }
    // rename replaces whatever was there, a symbolic link or a FIFO included, and follows neither.
    if (std::rename(draft.c_str(), file.c_str()) != 0) ::unlink(draft.c_str());
}

}  // namespace portal
