// The desktop portal's restore token, kept so that a desktop that asks the user asks once. It
// lets this user's programs share the screen unasked, so it is read only from a regular file of
// the user's own that nobody else can read or write, and written that way.
#pragma once

#include <string>

namespace portal {

// Where it is kept: $XDG_CACHE_HOME/orvanta/screencast-restore-token, or under ~/.cache.
std::string restore_token_file();

// The token in `file`, or empty: no file, or one that is not a regular file (a FIFO, a device, a
// symbolic link), is not the user's, has a mode other than 0600, is longer than a token line
// (restore_token_longest bytes and a newline), or holds something that is not printable ASCII.
// Never waits for a writer.
std::string read_restore_token(const std::string& file);
const size_t restore_token_longest = 256;

// Writes it under a name of its own and moves it into place, so that a reader never sees half.
void keep_restore_token(const std::string& file, const std::string& token);

}  // namespace portal
