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
#include "SocketOption.h"

namespace {

using Clock = std::chrono::steady_clock;

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
    int timeout = -1;
    if (acceptPaused) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(m_acceptPausedUntil - Clock::now());
        timeout = static_cast<int>(std::max<long>(left.count(), 0));
    }
    if (std::any_of(m_clients.begin(), m_clients.end(),
                    [](const Client& client) { return client.exchange->Waiting(); })) {
        timeout = timeout < 0 ? kWaitPollMs : std::min(timeout, kWaitPollMs);
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

// Read while its input and its unsent answers are within bounds; written
// to while answers wait.
short ScpiServer::EventsFor(const Client& client) const
{
    const MessageExchange& exchange = *client.exchange;
    const bool reading = exchange.Accepting() && !client.closing;
    return static_cast<short>((reading ? POLLIN : 0) |
                              (exchange.HasAnswer() && !client.closing ? POLLOUT : 0));
}

int ScpiServer::Run()
{
    std::vector<pollfd> fds;
    for (;;) {
        const bool acceptPaused = Clock::now() < m_acceptPausedUntil;
        fds.assign({{m_stopFd, POLLIN, 0},
                    {m_outputChangeFd, POLLIN, 0},
                    {acceptPaused ? -1 : m_listenFd, POLLIN, 0}});
        for (const Client& client : m_clients) {
            fds.push_back({client.fd, EventsFor(client), 0});
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
            if (!client.closing && (events & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                !ReadClient(client)) {
                // Gone, or done sending: what it sent whole still runs.
                client.closing = true;
            }
            client.exchange->Run();
            bool keep = SendAnswers(client) || client.closing;
            if (client.closing && !client.exchange->Busy()) {
                keep = false;
            }
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
    if (m_clients.size() >= kMostClients) {
        // Full: the client idle longest makes room.
        const auto idlest = std::min_element(
            m_clients.begin(), m_clients.end(),
            [](const Client& a, const Client& b) { return a.lastHeard < b.lastHeard; });
        close(idlest->fd);
        m_clients.erase(idlest);
    }
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY);
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE);  // (a peer that vanished is found in time)
    Client client;
    client.fd = fd;
    client.exchange =
        std::make_unique<MessageExchange>(m_instrument, MessageExchange::Transport::RawSocket);
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
        return false;  // gone: a message it did not finish is not run
    }
    // The kernel turns this off again by itself: an acknowledgement held
    // back would hold the client's next write (a query after a command)
    // behind its own Nagle delay.
    SetOption(client.fd, IPPROTO_TCP, TCP_QUICKACK);
    client.lastHeard = Clock::now();
    client.exchange->Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
    return true;
}

// Sends what the socket takes now; false for a client that is gone. A
// client that is done sending gets what it can still take, and the rest
// goes.
bool ScpiServer::SendAnswers(Client& client)
{
    MessageExchange& exchange = *client.exchange;
    if (client.closing) {
        send(client.fd, exchange.Answer().data(), exchange.Answer().size(),
             MSG_NOSIGNAL | MSG_DONTWAIT);
        exchange.Consume(exchange.Answer().size());
        return true;
    }
    while (exchange.HasAnswer()) {
        const std::string& answer = exchange.Answer();
        const ssize_t sent =
            send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            return errno == EAGAIN || errno == EINTR;
        }
        exchange.Consume(static_cast<std::size_t>(sent));
    }
    return true;
}
