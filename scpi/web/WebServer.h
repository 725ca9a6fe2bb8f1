#pragma once

#include <microhttpd.h>

#include <chrono>
#include <cstddef>
#include <list>
#include <string>

#include "IPollSource.h"
#include "ScpiInstrument.h"
#include "WebPanel.h"

// The instrument's web pages, served by libmicrohttpd from the instrument
// server's one poll loop (its epoll descriptor among the loop's): the LXI
// welcome page and identification, the front panel, its state as JSON and
// as a stream of server-sent events, and its SCPI messages.
//
// Anyone may read. A change (a SCPI message, Identify) is refused when its
// Origin is not the page's own; from another computer a SCPI message needs
// the password (digest authentication, any user name), and without one set
// it is refused; from this computer it needs a Host that names it, so that
// no web site can reach it through a name of its own (DNS rebinding).
// Connections, request bodies, event streams and what a stream may leave
// unread are bounded.
class WebServer : public IPollSource {
public:
    static constexpr unsigned kMostConnections = 64;
    static constexpr std::size_t kMostStreams = 32;
    static constexpr std::size_t kMostBody = 16 * 1024;
    static constexpr std::size_t kMostUnread = 256 * 1024;
    static constexpr unsigned kIdleSeconds = 30;
    static constexpr std::chrono::seconds kKeepAlive{15};
    // The streams' state is read and sent at most this often: a burst of
    // changes costs the instrument and each browser one update a period.
    static constexpr std::chrono::milliseconds kLeastUpdateInterval{40};
    // How often a message that waits for the sound looks again.
    static constexpr int kWaitPollMs = 20;
    static constexpr const char* kRealm = "wavegen";

    // `password`: what a change from another computer needs ("": none may).
    WebServer(WebPanel& panel, ScpiInstrument& instrument, std::string password);
    ~WebServer() override;
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Serves on a bound, listening socket (taken over); "" or why not.
    std::string Start(int listenFd);

    void AddDescriptors(std::vector<pollfd>& fds) override;
    int TimeoutMs() const override;
    void Dispatch(const pollfd* fds, std::size_t count) override;

private:
    struct Request;
    struct Stream {
        WebServer* server = nullptr;
        MHD_Connection* connection = nullptr;
        std::string unread;
        bool suspended = false;
        bool failed = false;  // too much left unread, or its client gone: ended
    };

    static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                                const char* method, const char* version, const char* upload,
                                std::size_t* uploadSize, void** context);
    static void OnCompleted(void* self, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode code);
    static ssize_t ReadStream(void* stream, std::uint64_t position, char* buffer, std::size_t most);
    static void EndStream(void* stream);

    MHD_Result Handle(MHD_Connection* connection, Request& request, const std::string& url,
                      const std::string& method);
    MHD_Result Send(MHD_Connection* connection, unsigned status, const std::string& body,
                    const char* type);
    MHD_Result OpenStream(MHD_Connection* connection);
    MHD_Result RunMessage(MHD_Connection* connection, Request& request);
    MHD_Result Identify(MHD_Connection* connection, const Request& request);
    // Whether a change may come from this request; if not, the refusal is
    // queued in `refused`.
    bool MayChange(MHD_Connection* connection, bool needsPassword, MHD_Result& refused);
    void Refresh();
    void Resume(Stream& stream);
    void ResumeAll();

    WebPanel& m_panel;
    ScpiInstrument& m_instrument;
    const std::string m_password;
    MHD_Daemon* m_daemon = nullptr;
    int m_epollFd = -1;
    bool m_identifying = false;
    std::list<Stream> m_streams;
    // The suspended streams whose sockets the last poll watched for a
    // client gone (the library sees nothing of a suspended connection).
    std::vector<Stream*> m_watched;
    std::list<Request*> m_waiting;  // messages that wait for the sound
    std::string m_state;            // what the streams were last sent
    std::chrono::steady_clock::time_point m_nextKeepAlive;
    std::chrono::steady_clock::time_point m_nextUpdate;  // the soonest the state is read again
    bool m_updatePending = false;  // something may have changed since it was read
    bool m_resumed = false;        // a connection resumed since the last run
};
