#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "IPollSource.h"
#include "MessageExchange.h"
#include "ScpiInstrument.h"

// Serves SCPI clients on a TCP socket, a newline ending each program
// message, until a stop signal: every client with its own message exchange
// and place in the command tree, all on the one instrument and error queue.
// Nothing a client does holds up another: a message runs as soon as it has
// ended, one that waits for the sound (*WAI, *OPC?) waits for its client
// alone, and answers are sent without blocking; a client that does not
// read them is not read from either once 64 KiB of them wait for it.
// There is no idle time-out: with all kMostClients slots taken, the client
// idle longest (one holding half a message is idle since its last byte)
// makes room for a new one. A client that goes away mid-message leaves the
// instrument as it was; the whole messages it sent before still run. Replies go out at once (no
// Nagle delay, and no delayed ACK held back from a client that writes a command and then its
// query).
class ScpiServer {
public:
    static constexpr std::size_t kMostClients = 64;
    // How long taking clients pauses when no descriptor is left for one.
    static constexpr std::chrono::seconds kAcceptPause{1};
    // How often a message that waits for the sound looks again, besides
    // when the output says its newest loop is at the device.
    static constexpr int kWaitPollMs = 20;

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
        std::unique_ptr<MessageExchange> exchange;
        std::chrono::steady_clock::time_point lastHeard;
        bool closing = false;  // done sending: its whole messages still run
    };

    void Accept();
    void DropAll();
    short EventsFor(const Client& client) const;
    // False when the client is gone (or let go).
    bool ReadClient(Client& client);
    bool SendAnswers(Client& client);
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
