#include "ScpiServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "EventCounter.h"

ScpiServer::ScpiServer(ScpiInstrument& instrument, int listenFd, int stopFd, int outputChangeFd)
    : m_instrument(instrument),
      m_listenFd(listenFd),
      m_stopFd(stopFd),
      m_outputChangeFd(outputChangeFd)
{
}

int ScpiServer::Run()
{
    using Clock = std::chrono::steady_clock;
    for (;;) {
        // While a client is connected, others wait in the listen queue; so
        // they do while no descriptor is left to take one.
        const bool acceptPaused = m_client < 0 && Clock::now() < m_acceptPausedUntil;
        const int watched = m_client >= 0 ? m_client : acceptPaused ? -1 : m_listenFd;
        std::array<pollfd, 3> fds{
            {{m_stopFd, POLLIN, 0}, {m_outputChangeFd, POLLIN, 0}, {watched, POLLIN, 0}}};
        const auto until = m_client >= 0  ? m_lastHeard + kIdleTimeout
                           : acceptPaused ? m_acceptPausedUntil
                                          : Clock::time_point::max();
        int timeoutMs = -1;
        if (until != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            timeoutMs = static_cast<int>(std::max<long>(left.count(), 0));
        }
        if (poll(fds.data(), fds.size(), timeoutMs) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "wavegen-scpi: cannot wait for clients (poll: %s)\n",
                         std::strerror(errno));
            Drop();
            return 1;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            Drop();
            return 0;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            ClearEvent(m_outputChangeFd);
            m_instrument.OnOutputChange();
        }
        if (m_client < 0 && (fds[2].revents & POLLIN) != 0) {
            Accept();
        } else if (m_client >= 0 && fds[2].revents != 0) {
            ReadClient();
        } else if (m_client >= 0 && Clock::now() >= m_lastHeard + kIdleTimeout) {
            Drop();
        }
    }
}

void ScpiServer::Accept()
{
    m_client = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (m_client < 0) {
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
            m_acceptPausedUntil = std::chrono::steady_clock::now() + kAcceptPause;
        }
        return;
    }
    m_acceptFailing = false;
    m_pending.clear();
    m_discarding = false;
    m_lastHeard = std::chrono::steady_clock::now();
}

void ScpiServer::Drop()
{
    if (m_client >= 0) {
        close(m_client);
        m_client = -1;
    }
}

void ScpiServer::ReadClient()
{
    char buffer[4096];
    const ssize_t got = recv(m_client, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (got <= 0) {
        Drop();  // gone: a line it did not finish is not run
        return;
    }
    m_lastHeard = std::chrono::steady_clock::now();
    for (ssize_t i = 0; i < got && m_client >= 0; ++i) {
        const char c = buffer[i];
        if (c == '\n') {
            if (!m_discarding) {
                if (!m_pending.empty() && m_pending.back() == '\r') {
                    m_pending.pop_back();
                }
                Answer(m_instrument.Execute(m_pending));
            }
            m_pending.clear();
            m_discarding = false;
        } else if (!m_discarding) {
            m_pending += c;
            if (m_pending.size() > kMostLineBytes) {
                m_instrument.TooLong();
                m_pending.clear();
                m_discarding = true;
            }
        }
    }
}

// Sends an answer; a client that does not read its answers is let go.
void ScpiServer::Answer(const std::string& line)
{
    if (line.empty()) {
        return;
    }
    const std::string message = line + "\n";
    const ssize_t sent = send(m_client, message.data(), message.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(message.size())) {
        Drop();
    }
}
