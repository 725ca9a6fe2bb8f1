#include "WebServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// Scripts and styles from the instrument alone, no frames around it.
constexpr const char* kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
    "connect-src 'self'; img-src 'self' data:; form-action 'self'; frame-ancestors 'none'; "
    "base-uri 'none'";

std::string Header(MHD_Connection* connection, const char* name)
{
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value != nullptr ? value : "";
}

bool FromLoopback(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return false;
    }
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET) {
        return NetworkInterface::IsLoopback(
            reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    }
    if (address->sa_family == AF_INET6) {
        const in6_addr& six = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&six) || (IN6_IS_ADDR_V4MAPPED(&six) && six.s6_addr[12] == 127);
    }
    return false;
}

// Whether a Host header names this computer by a loopback address.
bool NamesLoopback(const std::string& host)
{
    std::string name = host;
    if (!name.empty() && name.front() == '[') {
        name = name.substr(0, name.find(']') + 1);
    } else if (const std::size_t colon = name.rfind(':'); colon != std::string::npos) {
        name.resize(colon);
    }
    if (name == "localhost" || name == "[::1]") {
        return true;
    }
    return NetworkInterface::IsLoopback(name);
}

std::string Trimmed(std::string message)
{
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message;
}

}  // namespace

// One HTTP request, from its first call to its completion.
struct WebServer::Request {
    MHD_Connection* connection = nullptr;
    std::string body;
    bool tooLarge = false;
    bool allowed = false;  // checked once: a digest's nonce counts once
    bool waiting = false;  // its SCPI message waits for the sound
    bool ended = false;
    ScpiSession session;
    std::string response;
};

WebServer::WebServer(WebPanel& panel, ScpiInstrument& instrument, std::string password)
    : m_panel(panel), m_instrument(instrument), m_password(std::move(password))
{
}

WebServer::~WebServer()
{
    if (m_daemon == nullptr) {
        return;
    }
    // (no connection may stay suspended as the daemon stops)
    for (Stream& stream : m_streams) {
        stream.failed = true;
        Resume(stream);
    }
    for (Request* request : m_waiting) {
        MHD_resume_connection(request->connection);
    }
    m_waiting.clear();
    MHD_run(m_daemon);
    MHD_stop_daemon(m_daemon);
}

std::string WebServer::Start(int listenFd)
{
    fcntl(listenFd, F_SETFL, fcntl(listenFd, F_GETFL) | O_NONBLOCK);
    char random[32];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        return std::string("no random numbers for the password's nonces: ") + std::strerror(errno);
    }
    m_daemon = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, &WebServer::OnRequest, this,
        MHD_OPTION_LISTEN_SOCKET, listenFd, MHD_OPTION_CONNECTION_LIMIT, kMostConnections,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        static_cast<std::size_t>(32 * 1024), MHD_OPTION_NOTIFY_COMPLETED, &WebServer::OnCompleted,
        this, MHD_OPTION_DIGEST_AUTH_RANDOM, sizeof random, random, MHD_OPTION_NONCE_NC_SIZE, 1024u,
        MHD_OPTION_END);
    if (m_daemon == nullptr) {
        return "the web server did not start";
    }
    m_epollFd = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    return {};
}

void WebServer::AddDescriptors(std::vector<pollfd>& fds)
{
    fds.push_back({m_epollFd, POLLIN, 0});
    m_watched.clear();
    for (Stream& stream : m_streams) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(stream.connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (stream.suspended && info != nullptr) {
            fds.push_back({info->connect_fd, POLLRDHUP, 0});
            m_watched.push_back(&stream);
        }
    }
}

int WebServer::TimeoutMs() const
{
    int timeout = -1;
    MHD_UNSIGNED_LONG_LONG daemonMs = 0;
    if (MHD_get_timeout(m_daemon, &daemonMs) == MHD_YES) {
        timeout = static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(daemonMs, INT_MAX));
    }
    const auto within = [&timeout](int ms) { timeout = timeout < 0 ? ms : std::min(timeout, ms); };
    if (!m_waiting.empty()) {
        within(kWaitPollMs);
    }
    if (!m_streams.empty()) {
        const auto next =
            m_updatePending ? std::min(m_nextUpdate, m_nextKeepAlive) : m_nextKeepAlive;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
        within(static_cast<int>(std::max<long>(left.count(), 0)));
    }
    return timeout;
}

void WebServer::Dispatch(const pollfd* fds, std::size_t count)
{
    // A page closed while its stream waited: ended now, not at the next
    // keep-alive, so its place is free at once.
    for (std::size_t i = 1; i < count && i - 1 < m_watched.size(); ++i) {
        if ((fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            m_watched[i - 1]->failed = true;
            Resume(*m_watched[i - 1]);
        }
    }
    m_watched.clear();
    MHD_run(m_daemon);
    // (whatever changed since: this loop's SCPI clients, the device, the page)
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        Request& request = **it;
        if (m_instrument.CanContinue(request.session) &&
            m_instrument.Continue(request.session, request.response)) {
            request.ended = true;
            MHD_resume_connection(request.connection);
            m_resumed = true;
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
    Refresh();
    if (m_resumed) {
        m_resumed = false;
        MHD_run(m_daemon);
    }
}

void WebServer::Refresh()
{
    if (m_streams.empty()) {
        return;
    }
    const auto now = Clock::now();
    if (now < m_nextUpdate) {
        m_updatePending = true;  // (read once the interval is over)
        return;
    }
    m_updatePending = false;
    m_nextUpdate = now + kLeastUpdateInterval;
    const bool beat = now >= m_nextKeepAlive;
    std::string state = m_panel.State(m_identifying);
    const bool changed = state != m_state;
    if (!changed && !beat) {
        return;
    }
    for (Stream& stream : m_streams) {
        stream.unread += changed ? "data: " + state + "\n\n" : std::string(":\n\n");
        stream.failed = stream.failed || stream.unread.size() > kMostUnread;
        Resume(stream);
    }
    m_state = std::move(state);
    m_nextKeepAlive = Clock::now() + kKeepAlive;
}

void WebServer::Resume(Stream& stream)
{
    if (stream.suspended) {
        stream.suspended = false;
        MHD_resume_connection(stream.connection);
        m_resumed = true;
    }
}

MHD_Result WebServer::OnRequest(void* self, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char* upload,
                                std::size_t* uploadSize, void** context)
{
    auto* server = static_cast<WebServer*>(self);
    if (*context == nullptr) {
        auto* request = new Request;
        request->connection = connection;
        *context = request;
        return MHD_YES;
    }
    Request& request = *static_cast<Request*>(*context);
    if (*uploadSize > 0) {
        if (request.body.size() + *uploadSize > kMostBody) {
            request.tooLarge = true;
        } else {
            request.body.append(upload, *uploadSize);
        }
        *uploadSize = 0;
        return MHD_YES;
    }
    return server->Handle(connection, request, url, method);
}

void WebServer::OnCompleted(void* self, MHD_Connection*, void** context, MHD_RequestTerminationCode)
{
    auto* server = static_cast<WebServer*>(self);
    auto* request = static_cast<Request*>(*context);
    if (request != nullptr) {
        server->m_waiting.remove(request);
        delete request;
        *context = nullptr;
    }
}

MHD_Result WebServer::Send(MHD_Connection* connection, unsigned status, const std::string& body,
                           const char* type)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "same-origin");
    MHD_add_response_header(response, "Content-Security-Policy", kPolicy);
    if (status == MHD_HTTP_SEE_OTHER) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_LOCATION, "/");
    }
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD, POST");
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result WebServer::Handle(MHD_Connection* connection, Request& request, const std::string& url,
                             const std::string& method)
{
    constexpr const char* kText = "text/plain; charset=utf-8";
    if (request.tooLarge) {
        return Send(connection, MHD_HTTP_CONTENT_TOO_LARGE, "Too large: at most 16384 bytes.\n",
                    kText);
    }
    if (method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD) {
        if (url == "/") {
            return Send(connection, MHD_HTTP_OK, m_panel.WelcomePage(m_identifying),
                        "text/html; charset=utf-8");
        }
        if (url == "/lxi/identification") {
            return Send(connection, MHD_HTTP_OK, m_panel.Identification(),
                        "text/xml; charset=utf-8");
        }
        if (url == "/panel") {
            return Send(connection, MHD_HTTP_OK, std::string(WebPanel::PanelPage()),
                        "text/html; charset=utf-8");
        }
        if (url == "/panel.js") {
            return Send(connection, MHD_HTTP_OK, std::string(WebPanel::PanelScript()),
                        "text/javascript; charset=utf-8");
        }
        if (url == "/state") {
            return Send(connection, MHD_HTTP_OK, m_panel.State(m_identifying), "application/json");
        }
        if (url == "/events") {
            return OpenStream(connection);
        }
        return Send(connection, MHD_HTTP_NOT_FOUND, "Not found.\n", kText);
    }
    if (method == MHD_HTTP_METHOD_POST) {
        if (url == "/scpi") {
            return RunMessage(connection, request);
        }
        if (url == "/identify") {
            return Identify(connection, request);
        }
        return Send(connection, MHD_HTTP_NOT_FOUND, "Not found.\n", kText);
    }
    return Send(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET, HEAD and POST.\n", kText);
}

bool WebServer::MayChange(MHD_Connection* connection, bool needsPassword, MHD_Result& refused)
{
    constexpr const char* kText = "text/plain; charset=utf-8";
    const std::string origin = Header(connection, MHD_HTTP_HEADER_ORIGIN);
    const std::string host = Header(connection, MHD_HTTP_HEADER_HOST);
    if (!origin.empty() && origin != "http://" + host) {
        refused = Send(connection, MHD_HTTP_FORBIDDEN,
                       "Refused: a page of another site may not change the instrument.\n", kText);
        return false;
    }
    if (FromLoopback(connection)) {
        if (NamesLoopback(host)) {
            return true;
        }
        refused = Send(connection, MHD_HTTP_FORBIDDEN,
                       "Refused: from this computer, address the instrument as localhost or "
                       "127.0.0.1.\n",
                       kText);
        return false;
    }
    if (!needsPassword) {
        return true;
    }
    if (m_password.empty()) {
        refused = Send(connection, MHD_HTTP_FORBIDDEN,
                       "Refused: changes from another computer need a password, and none is set "
                       "(wavegen-scpi --password-file).\n",
                       kText);
        return false;
    }
    char* user = MHD_digest_auth_get_username(connection);
    int checked = MHD_NO;
    if (user != nullptr) {
        checked = MHD_digest_auth_check2(connection, kRealm, user, m_password.c_str(), 300,
                                         MHD_DIGEST_ALG_MD5);
        MHD_free(user);
    }
    if (checked == MHD_YES) {
        return true;
    }
    const std::string body = "The password is needed to change the instrument.\n";
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, kText);
    refused = MHD_queue_auth_fail_response2(connection, kRealm, kRealm, response,
                                            checked == MHD_INVALID_NONCE ? MHD_YES : MHD_NO,
                                            MHD_DIGEST_ALG_MD5);
    MHD_destroy_response(response);
    return false;
}

MHD_Result WebServer::RunMessage(MHD_Connection* connection, Request& request)
{
    if (!request.allowed) {
        MHD_Result refused = MHD_NO;
        if (!MayChange(connection, true, refused)) {
            return refused;
        }
        request.allowed = true;
    }
    if (request.waiting && !request.ended) {
        // (resumed as the server stops)
        return Send(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "The instrument is stopping.\n",
                    "text/plain; charset=utf-8");
    }
    if (!request.ended) {
        if (!m_instrument.Begin(Trimmed(request.body), request.session, request.response)) {
            request.waiting = true;
            MHD_suspend_connection(connection);
            m_waiting.push_back(&request);
            return MHD_YES;
        }
        request.ended = true;
    }
    return Send(connection, MHD_HTTP_OK, request.response + "\n", "text/plain; charset=utf-8");
}

MHD_Result WebServer::Identify(MHD_Connection* connection, const Request& request)
{
    MHD_Result refused = MHD_NO;
    if (!MayChange(connection, false, refused)) {
        return refused;
    }
    const bool on = request.body.find("identify=off") == std::string::npos;
    if (on != m_identifying) {
        m_identifying = on;
        std::fprintf(stderr, "wavegen-scpi: identify %s\n",
                     on ? "on: this is the instrument the web page shows" : "off");
    }
    return Send(connection, MHD_HTTP_SEE_OTHER, "See the welcome page.\n",
                "text/plain; charset=utf-8");
}

MHD_Result WebServer::OpenStream(MHD_Connection* connection)
{
    if (m_streams.size() >= kMostStreams) {
        return Send(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                    "Too many pages follow the instrument; try again later.\n",
                    "text/plain; charset=utf-8");
    }
    Stream& stream = m_streams.emplace_back();
    stream.server = this;
    stream.connection = connection;
    stream.unread = "retry: 1000\ndata: " + m_panel.State(m_identifying) + "\n\n";
    if (m_streams.size() == 1) {
        m_state.clear();
        m_nextKeepAlive = Clock::now() + kKeepAlive;
    }
    MHD_Response* response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, 4096, &WebServer::ReadStream, &stream, &WebServer::EndStream);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
}

ssize_t WebServer::ReadStream(void* streamPointer, std::uint64_t, char* buffer, std::size_t most)
{
    Stream& stream = *static_cast<Stream*>(streamPointer);
    if (stream.failed) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    if (stream.unread.empty()) {
        // (until there is something to send: no busy waiting)
        MHD_suspend_connection(stream.connection);
        stream.suspended = true;
        return 0;
    }
    const std::size_t count = std::min(most, stream.unread.size());
    std::memcpy(buffer, stream.unread.data(), count);
    stream.unread.erase(0, count);
    return static_cast<ssize_t>(count);
}

void WebServer::EndStream(void* streamPointer)
{
    Stream* stream = static_cast<Stream*>(streamPointer);
    stream->server->m_streams.remove_if([stream](const Stream& s) { return &s == stream; });
}
