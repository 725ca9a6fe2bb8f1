#pragma once

#include <sys/socket.h>

// Turns a socket option on; a socket without it still works, so a refusal
// is nothing to report.
inline void SetOption(int fd, int level, int option)
{
    const int yes = 1;
    setsockopt(fd, level, option, &yes, sizeof yes);
}
