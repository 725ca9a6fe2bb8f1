#pragma once

#include <chrono>
#include <string>

#include "ScpiInstrument.h"

// Serves one SCPI client at a time on a TCP socket, a line per program
// message, until a stop signal. Further clients wait in the listen queue
// until the one connected goes. A line is at most kMostLineBytes long (the
// rest of a longer one is discarded with an error; the connection stays); a
// client silent for kIdleTimeout, or one that does not read its answers, is
// disconnected. A client that goes away mid-line leaves the instrument as
// it was.
class ScpiServer {
public:
    static constexpr std::size_t kMostLineBytes = 4096;
    static constexpr std::chrono::seconds kIdleTimeout{300};
    // How long taking clients pauses when no descriptor is left for one.
    static constexpr std::chrono::seconds kAcceptPause{1};

    ScpiServer(ScpiInstrument& instrument, int listenFd, int stopFd, int outputChangeFd);
    // Serves until a stop signal arrives on stopFd; returns 0, or 1 when
    // waiting failed (said on stderr).
    int Run();

private:
    void Accept();
    void Drop();
    void ReadClient();
    void Answer(const std::string& line);

    ScpiInstrument& m_instrument;
    const int m_listenFd;
    const int m_stopFd;
    const int m_outputChangeFd;
    int m_client = -1;
    std::string m_pending;      // bytes of the line not yet ended
    bool m_discarding = false;  // in the rest of a line that was too long
    std::chrono::steady_clock::time_point m_lastHeard;
    std::chrono::steady_clock::time_point m_acceptPausedUntil;
    bool m_acceptFailing = false;  // said once until a client is taken again
};
