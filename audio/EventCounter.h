#pragma once

#include <unistd.h>

#include <cstdint>

// An eventfd used as a wake-up between a device's thread and whoever waits
// on it: Raise makes it readable, Clear consumes what was raised.
inline void RaiseEvent(int fd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(fd, &one, sizeof one);
}

// True when something had been raised.
inline bool ClearEvent(int fd)
{
    std::uint64_t count = 0;
    return read(fd, &count, sizeof count) > 0;
}
