#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "IPollSource.h"
#include "ScpiInstrument.h"

// Serves SCPI clients on a TCP socket, a line per program message, until a
// stop signal: up to kMostClients at once, each with its own line and place
// in the command tree, all on the one instrument and error queue. A line is
// run whole as soon as it ends, so a client that idles or holds half a line
// delays no other. A line is at most kMostLineBytes long (the rest of a
// longer one is discarded with an error; the connection stays); a client
// silent for kIdleTimeout, or one that does not read its answers, is
// disconnected. A client that goes away mid-line leaves the instrument as
// it was. Replies go out at once (no Nagle delay, and no delayed ACK held
// back from a client that writes a command and then its query).
class ScpiServer {
public:
    static constexpr std::size_t kMostLineBytes = 4096;
    static constexpr std::size_t kMostClients = 16;
    static constexpr std::chrono::seconds kIdleTimeout{300};
    // How long taking clients pauses when no descriptor is left for one.
    static constexpr std::chrono::seconds kAcceptPause{1};

    // `sources` are served by the same loop (other channels to the instrument).
    ScpiServer(ScpiInstrument& instrument, int listenFd, int stopFd, int outputChangeFd,
               std::vector<IPollSource*> sources = {});
    ~ScpiServer();
    ScpiServer(const ScpiServer&) = delete;
    ScpiServer& operator=(const ScpiServer&) = delete;

    // Serves until a stop signal arrives on stopFd; returns 0, or 1 when
    // waiting failed (said on stderr).
    int Run();

private:
    struct Client {
        int fd = -1;
        std::string pending;      // bytes of the line not yet ended
        bool discarding = false;  // in the rest of a line that was too long
        std::chrono::steady_clock::time_point lastHeard;
        ScpiSession session;
    };

    void Accept();
    void DropAll();
    // False when the client is gone (or let go).
    bool ReadClient(Client& client);
    bool Answer(Client& client, const std::string& line);
    int PollTimeout(bool acceptPaused) const;
    void DispatchSources(const std::vector<pollfd>& fds, std::size_t first);

    ScpiInstrument& m_instrument;
    const int m_listenFd;
    const int m_stopFd;
    const int m_outputChangeFd;
    const std::vector<IPollSource*> m_sources;
    std::vector<std::size_t> m_sourceCounts;  // descriptors each added to the poll
    std::vector<Client> m_clients;
    std::chrono::steady_clock::time_point m_acceptPausedUntil;
    bool m_acceptFailing = false;  // said once until a client is taken again
};
