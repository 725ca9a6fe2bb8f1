#include "ScpiServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "EventCounter.h"

namespace {

using Clock = std::chrono::steady_clock;

void SetOption(int fd, int level, int option)
{
    const int yes = 1;
    setsockopt(fd, level, option, &yes, sizeof yes);  // (a socket without it still works)
}

}  // namespace

ScpiServer::ScpiServer(ScpiInstrument& instrument, int listenFd, int stopFd, int outputChangeFd,
                       std::vector<IPollSource*> sources)
    : m_instrument(instrument),
      m_listenFd(listenFd),
      m_stopFd(stopFd),
      m_outputChangeFd(outputChangeFd),
      m_sources(std::move(sources)),
      m_sourceCounts(m_sources.size())
{
}

ScpiServer::~ScpiServer()
{
    DropAll();
}

int ScpiServer::PollTimeout(bool acceptPaused) const
{
    Clock::time_point until = acceptPaused ? m_acceptPausedUntil : Clock::time_point::max();
    for (const Client& client : m_clients) {
        until = std::min(until, client.lastHeard + kIdleTimeout);
    }
    int timeout = -1;
    if (until != Clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        timeout = static_cast<int>(std::max<long>(left.count(), 0));
    }
    for (const IPollSource* source : m_sources) {
        const int sourceTimeout = source->TimeoutMs();
        if (sourceTimeout >= 0 && (timeout < 0 || sourceTimeout < timeout)) {
            timeout = sourceTimeout;
        }
    }
    return timeout;
}

void ScpiServer::DispatchSources(const std::vector<pollfd>& fds, std::size_t first)
{
    for (std::size_t i = 0; i < m_sources.size(); ++i) {
        m_sources[i]->Dispatch(fds.data() + first, m_sourceCounts[i]);
        first += m_sourceCounts[i];
    }
}

int ScpiServer::Run()
{
    std::vector<pollfd> fds;
    for (;;) {
        // Beyond the most clients, or with no descriptor left to take one,
        // the rest wait in the listen queue.
        const bool acceptPaused = Clock::now() < m_acceptPausedUntil;
        const bool taking = !acceptPaused && m_clients.size() < kMostClients;
        fds.assign({{m_stopFd, POLLIN, 0},
                    {m_outputChangeFd, POLLIN, 0},
                    {taking ? m_listenFd : -1, POLLIN, 0}});
        for (const Client& client : m_clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        const std::size_t firstSource = fds.size();
        for (std::size_t i = 0; i < m_sources.size(); ++i) {
            const std::size_t before = fds.size();
            m_sources[i]->AddDescriptors(fds);
            m_sourceCounts[i] = fds.size() - before;
        }
        if (poll(fds.data(), fds.size(), PollTimeout(acceptPaused)) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "wavegen-scpi: cannot wait for clients (poll: %s)\n",
                         std::strerror(errno));
            DropAll();
            return 1;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            DropAll();
            return 0;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            ClearEvent(m_outputChangeFd);
            m_instrument.OnOutputChange();
        }
        // Each client in turn; a client let go is closed and taken out.
        std::size_t at = 0;
        for (std::size_t i = 0; i < m_clients.size(); ++i) {
            Client& client = m_clients[i];
            const short events = fds[3 + i].revents;
            const bool keep =
                events != 0 ? ReadClient(client) : Clock::now() < client.lastHeard + kIdleTimeout;
            if (keep) {
                if (at != i) {
                    m_clients[at] = std::move(client);
                }
                ++at;
            } else {
                close(client.fd);
            }
        }
        m_clients.resize(at);
        if ((fds[2].revents & POLLIN) != 0) {
            Accept();
        }
        DispatchSources(fds, firstSource);
    }
}

void ScpiServer::Accept()
{
    const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        // Out of descriptors or memory, the client stays queued: pause rather
        // than spin on a listening socket that stays readable. A client that
        // gave up before it was taken is nothing to report.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            if (!m_acceptFailing) {
                std::fprintf(stderr,
                             "wavegen-scpi: cannot take a client (accept: %s); trying again "
                             "every second\n",
                             std::strerror(errno));
            }
            m_acceptFailing = true;
            m_acceptPausedUntil = Clock::now() + kAcceptPause;
        }
        return;
    }
    m_acceptFailing = false;
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY);
    Client client;
    client.fd = fd;
    client.lastHeard = Clock::now();
    m_clients.push_back(std::move(client));
}

void ScpiServer::DropAll()
{
    for (const Client& client : m_clients) {
        close(client.fd);
    }
    m_clients.clear();
}

bool ScpiServer::ReadClient(Client& client)
{
    char buffer[4096];
    const ssize_t got = recv(client.fd, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (got <= 0) {
        return false;  // gone: a line it did not finish is not run
    }
    // The kernel turns this off again by itself: an acknowledgement held
    // back would hold the client's next write (a query after a command)
    // behind its own Nagle delay.
    SetOption(client.fd, IPPROTO_TCP, TCP_QUICKACK);
    client.lastHeard = Clock::now();
    for (ssize_t i = 0; i < got; ++i) {
        const char c = buffer[i];
        if (c == '\n') {
            if (!client.discarding) {
                if (!client.pending.empty() && client.pending.back() == '\r') {
                    client.pending.pop_back();
                }
                if (!Answer(client, m_instrument.Execute(client.pending, client.session))) {
                    return false;
                }
            }
            client.pending.clear();
            client.discarding = false;
        } else if (!client.discarding) {
            client.pending += c;
            if (client.pending.size() > kMostLineBytes) {
                m_instrument.TooLong();
                client.pending.clear();
                client.discarding = true;
            }
        }
    }
    return true;
}

// Sends an answer; false for a client that does not read its answers.
bool ScpiServer::Answer(Client& client, const std::string& line)
{
    if (line.empty()) {
        return true;
    }
    const std::string message = line + "\n";
    const ssize_t sent = send(client.fd, message.data(), message.size(), MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(message.size());
}
