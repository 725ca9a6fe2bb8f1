#pragma once

#include <poll.h>

#include <cstddef>
#include <vector>

// Something the instrument server's one poll loop also serves: it adds its
// descriptors to each poll, says how long the poll may sleep for it, and
// is handed back the same descriptors with what happened to them.
class IPollSource {
public:
    virtual ~IPollSource() = default;
    virtual void AddDescriptors(std::vector<pollfd>& fds) = 0;
    // The longest the poll may sleep for this source, in ms; -1 for ever.
    virtual int TimeoutMs() const = 0;
    // The descriptors it added, in the same order, after the poll.
    virtual void Dispatch(const pollfd* fds, std::size_t count) = 0;
};
