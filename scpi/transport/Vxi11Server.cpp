#include "Vxi11Server.h"

#include <arpa/inet.h>
#include <netconfig.h>
#include <netinet/tcp.h>
#include <rpc/rpc.h>
#include <rpc/rpcb_clnt.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "ScpiServer.h"
#include "SocketOption.h"
#include "vxi11.h"

namespace {

// The protocol's error codes.
constexpr long kNoError = 0;
constexpr long kNotAccessible = 3;
constexpr long kInvalidLink = 4;
constexpr long kParameterError = 5;
constexpr long kChannelNotEstablished = 6;
constexpr long kNotSupported = 8;
constexpr long kOutOfResources = 9;
constexpr long kLocked = 11;
constexpr long kNoLockHeld = 12;
constexpr long kIoTimeout = 15;
constexpr long kAborted = 23;

// Flags of a call, and the reasons a read ends.
constexpr long kWaitLock = 0x01;
constexpr long kEndFlag = 0x08;
constexpr long kTermCharSet = 0x80;
constexpr long kRequestCount = 0x01;
constexpr long kTermCharSeen = 0x02;
constexpr long kEnd = 0x04;

using Accepted = RpcCall::Accepted;

int ListenOn(const in_addr& address, unsigned short& port)
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr = address;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    socklen_t size = sizeof where;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
        listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
        const int error = errno;
        if (fd >= 0) {
            close(fd);
        }
        errno = error;
        return -1;
    }
    port = ntohs(where.sin_port);
    return fd;
}

// (through void (*)(), as the library's own casts are)
template <class Procedure>
xdrproc_t Xdr(Procedure procedure)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(procedure));
}

// A call's arguments, decoded with their XDR routine and freed with it.
template <class Arguments>
class Decoded {
public:
    Decoded(std::string_view bytes, xdrproc_t routine) : m_routine(routine)
    {
        XDR xdr;
        xdrmem_create(&xdr, const_cast<char*>(bytes.data()), static_cast<u_int>(bytes.size()),
                      XDR_DECODE);
        m_ok = m_routine(&xdr, &value) != 0;
        xdr_destroy(&xdr);
    }
    ~Decoded() { xdr_free(m_routine, reinterpret_cast<char*>(&value)); }
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    bool Ok() const { return m_ok; }

    Arguments value{};

private:
    xdrproc_t m_routine;
    bool m_ok = false;
};

// A result encoded with its XDR routine, as the reply to `call`.
template <class Result>
std::string Success(const RpcCall& call, xdrproc_t routine, const Result& result,
                    std::size_t dataBytes = 0)
{
    std::string encoded(64 + dataBytes, '\0');
    XDR xdr;
    xdrmem_create(&xdr, encoded.data(), static_cast<u_int>(encoded.size()), XDR_ENCODE);
    const bool ok = routine(&xdr, const_cast<Result*>(&result)) != 0;
    encoded.resize(ok ? xdr_getpos(&xdr) : 0);
    xdr_destroy(&xdr);
    return call.Reply(ok ? Accepted::Success : Accepted::GarbageArguments, encoded);
}

std::string ErrorReply(const RpcCall& call, long error)
{
    return Success(call, Xdr(xdr_Device_Error), Device_Error{error});
}

}  // namespace

Vxi11Server::Vxi11Server(ScpiInstrument& instrument)
    : m_instrument(instrument), m_ids(std::random_device{}())
{
}

Vxi11Server::~Vxi11Server()
{
    if (m_registered) {
        Map(false);
    }
    for (const auto& connection : m_connections) {
        close(connection->fd);
    }
    for (const int fd : {m_coreFd, m_abortFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::string Vxi11Server::Start(const in_addr& address)
{
    m_address.sin_family = AF_INET;
    m_address.sin_addr = address;
    m_coreFd = ListenOn(address, m_corePort);
    if (m_coreFd < 0) {
        return std::string("cannot listen for VXI-11 clients: ") + std::strerror(errno);
    }
    m_abortFd = ListenOn(address, m_abortPort);
    if (m_abortFd < 0) {
        return std::string("cannot listen for VXI-11 aborts: ") + std::strerror(errno);
    }
    return "";
}

// Sets (or withdraws) the core channel's address in rpcbind, for TCP.
// (Not pmap_set: the library's leaks the address it makes.)
bool Vxi11Server::Map(bool set)
{
    netconfig* tcp = getnetconfigent("tcp");
    if (tcp == nullptr) {
        return false;
    }
    sockaddr_in where = m_address;
    where.sin_port = htons(m_corePort);
    netbuf address{sizeof where, sizeof where, &where};
    const bool done = set ? rpcb_set(DEVICE_CORE, DEVICE_CORE_VERSION, tcp, &address)
                          : rpcb_unset(DEVICE_CORE, DEVICE_CORE_VERSION, tcp);
    freenetconfigent(tcp);
    return done;
}

std::string Vxi11Server::Register()
{
    if (Map(true)) {
        m_registered = true;
        return "";
    }
    // Taken: by a server that is gone (its address no longer answers), or
    // by one that still runs.
    sockaddr_in taken{};
    netbuf found{sizeof taken, 0, &taken};
    netconfig* tcp = getnetconfigent("tcp");
    const bool known = tcp != nullptr &&
                       rpcb_getaddr(DEVICE_CORE, DEVICE_CORE_VERSION, tcp, &found, "localhost") &&
                       found.len == sizeof taken && taken.sin_family == AF_INET;
    if (tcp != nullptr) {
        freenetconfigent(tcp);
    }
    if (!known) {
        return "rpcbind does not answer, so VXI-11 clients cannot find the instrument";
    }
    if (taken.sin_addr.s_addr == htonl(INADDR_ANY)) {
        taken.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answers =
        probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&taken), sizeof taken) == 0;
    if (probe >= 0) {
        close(probe);
    }
    if (answers) {
        return "another VXI-11 server on this host is registered with rpcbind (port " +
               std::to_string(ntohs(taken.sin_port)) + "), so clients find that one";
    }
    Map(false);
    m_registered = Map(true);
    return m_registered ? "" : "rpcbind refused the VXI-11 registration";
}

void Vxi11Server::AddDescriptors(std::vector<pollfd>& fds)
{
    m_pollingListeners = m_coreFd >= 0 && Clock::now() >= m_acceptPausedUntil;
    if (m_pollingListeners) {
        fds.push_back({m_coreFd, POLLIN, 0});
        fds.push_back({m_abortFd, POLLIN, 0});
    }
    m_polled.clear();
    for (const auto& connection : m_connections) {
        const bool reading = connection->unsent.size() < kMostUnsentBytes &&
                             connection->records.HeldBytes() <= kMostWriteBytes + 1024;
        fds.push_back({connection->fd,
                       static_cast<short>((reading ? POLLIN : 0) |
                                          (connection->unsent.empty() ? 0 : POLLOUT)),
                       0});
        m_polled.push_back(connection.get());
    }
}

int Vxi11Server::TimeoutMs() const
{
    if (!m_orphans.empty() || std::any_of(m_links.begin(), m_links.end(), [](const Link& link) {
            return link.exchange->Waiting();
        })) {
        return ScpiServer::kWaitPollMs;  // a message waits for the sound: look again
    }
    long soonest = -1;
    if (m_coreFd >= 0 && Clock::now() < m_acceptPausedUntil) {
        soonest = std::chrono::ceil<std::chrono::milliseconds>(m_acceptPausedUntil - Clock::now())
                      .count();
    }
    for (const auto& connection : m_connections) {
        if (connection->waiting) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(connection->waitUntil - Clock::now());
            const long ms = std::max<long>(left.count(), 0);
            soonest = soonest < 0 ? ms : std::min(soonest, ms);
        }
    }
    return static_cast<int>(std::min<long>(soonest, 1L << 30));
}

void Vxi11Server::Dispatch(const pollfd* fds, std::size_t count)
{
    const std::size_t at = m_pollingListeners && count >= 2 ? 2 : 0;
    for (std::size_t i = 0; i < m_polled.size() && at + i < count; ++i) {
        Connection& connection = *m_polled[i];
        const short events = fds[at + i].revents;
        if (!connection.closed && (events & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            !ReadConnection(connection)) {
            CloseConnection(connection);
        }
    }
    m_polled.clear();
    // (after the reads: taking a connection may let another go)
    if (at == 2 && (fds[0].revents & POLLIN) != 0) {
        Accept(m_coreFd, Channel::Core);
    }
    if (at == 2 && (fds[1].revents & POLLIN) != 0) {
        Accept(m_abortFd, Channel::Abort);
    }
    // Messages run, calls are answered (and a lock let go, an abort, lets
    // another call go on), until nothing moves.
    for (const auto& orphan : m_orphans) {
        orphan->Run();
        orphan->Consume(orphan->Answer().size());
    }
    std::erase_if(m_orphans, [](const auto& orphan) { return !orphan->Busy(); });
    for (bool moved = true; moved;) {
        moved = false;
        for (const Link& link : m_links) {
            moved = link.exchange->Run() || moved;
        }
        for (const auto& connection : m_connections) {
            moved = (!connection->closed && ServeCalls(*connection)) || moved;
        }
    }
    for (const auto& connection : m_connections) {
        if (!connection->closed && !SendReplies(*connection)) {
            CloseConnection(*connection);
        }
    }
    std::erase_if(m_connections, [](const auto& connection) { return connection->closed; });
}

void Vxi11Server::Accept(int listenFd, Channel channel)
{
    const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        // Out of descriptors or memory, the client stays queued: pause
        // rather than spin on a listening socket that stays readable.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            m_acceptPausedUntil = Clock::now() + ScpiServer::kAcceptPause;
        }
        return;
    }
    std::vector<Connection*> same;
    for (const auto& connection : m_connections) {
        if (connection->channel == channel && !connection->closed) {
            same.push_back(connection.get());
        }
    }
    if (same.size() >= kMostConnections) {
        // Full: the connection idle longest makes room.
        CloseConnection(**std::min_element(same.begin(), same.end(), [](auto* a, auto* b) {
            return a->lastHeard < b->lastHeard;
        }));
        std::erase_if(m_connections, [](const auto& connection) { return connection->closed; });
    }
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY);
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE);
    auto connection = std::make_unique<Connection>();
    connection->serial = m_nextSerial++;
    connection->fd = fd;
    connection->channel = channel;
    connection->lastHeard = Clock::now();
    m_connections.push_back(std::move(connection));
}

bool Vxi11Server::ReadConnection(Connection& connection)
{
    char buffer[16384];
    const ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
    if (got < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    if (got == 0) {
        return false;
    }
    connection.lastHeard = Clock::now();
    connection.records.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
    return true;
}

bool Vxi11Server::SendReplies(Connection& connection)
{
    while (!connection.unsent.empty()) {
        const ssize_t sent = send(connection.fd, connection.unsent.data(), connection.unsent.size(),
                                  MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            return errno == EAGAIN || errno == EINTR;
        }
        connection.unsent.erase(0, static_cast<std::size_t>(sent));
    }
    return true;
}

// Answers the connection's calls in order, as far as it can now; true
// when it answered any.
bool Vxi11Server::ServeCalls(Connection& connection)
{
    bool answered = false;
    while (connection.unsent.size() < kMostUnsentBytes &&
           (connection.waiting || connection.records.HasRecord())) {
        if (!connection.waiting) {
            connection.waiting = connection.records.TakeRecord();
        }
        const Outcome reply = Serve(connection, *connection.waiting);
        if (!reply) {
            return answered;
        }
        connection.waiting.reset();
        connection.waitKind = WaitKind::None;
        connection.aborted = false;
        if (!reply->empty()) {
            connection.unsent += RpcRecordStream::Frame(*reply);
        }
        answered = true;
    }
    return answered;
}

Vxi11Server::Outcome Vxi11Server::Serve(Connection& connection,
                                        const RpcRecordStream::Record& record)
{
    const RpcCall call = RpcCall::Parse(record.bytes);
    if (call.kind == RpcCall::Kind::NotACall) {
        return std::string();  // nothing to answer
    }
    if (call.kind == RpcCall::Kind::WrongRpc) {
        return call.Deny();
    }
    const bool core = connection.channel == Channel::Core;
    if (call.program != (core ? DEVICE_CORE : DEVICE_ASYNC)) {
        return call.Reply(Accepted::ProgramUnavailable);
    }
    if (call.version != 1) {
        return call.Reply(Accepted::ProgramMismatch);
    }
    if (record.cut) {
        // Longer than a client is told it may send: refused, the
        // connection and its links kept.
        return call.procedure == device_write
                   ? Success(call, Xdr(xdr_Device_WriteResp), Device_WriteResp{kParameterError, 0})
                   : call.Reply(Accepted::GarbageArguments);
    }
    if (call.procedure == 0) {
        return call.Reply(Accepted::Success);  // the null procedure: a ping
    }
    return core ? ServeCore(connection, call) : ServeAbort(call);
}

Vxi11Server::Outcome Vxi11Server::ServeAbort(const RpcCall& call)
{
    if (call.procedure != device_abort) {
        return call.Reply(Accepted::ProcedureUnavailable);
    }
    Decoded<Device_Link> lid(call.arguments, Xdr(xdr_Device_Link));
    if (!lid.Ok()) {
        return call.Reply(Accepted::GarbageArguments);
    }
    const Link* link = Find(lid.value);
    if (link == nullptr) {
        return ErrorReply(call, kInvalidLink);
    }
    // (the ids are not guessable: who knows one made the link)
    for (const auto& connection : m_connections) {
        if (connection->serial == link->connection && connection->waiting &&
            WaitingLink(*connection) == link->id) {
            connection->aborted = true;
        }
    }
    return ErrorReply(call, kNoError);
}

Vxi11Server::Outcome Vxi11Server::ServeCore(Connection& connection, const RpcCall& call)
{
    switch (call.procedure) {
    case create_link:
        return CreateLink(connection, call);
    case device_write:
        return Write(connection, call);
    case device_read:
        return Read(connection, call);
    case device_lock:
        return Lock(connection, call);
    case device_readstb:
    case device_trigger:
    case device_clear:
    case device_remote:
    case device_local:
        return Generic(connection, call);
    case device_unlock:
    case destroy_link:
        return OnLink(connection, call);
    case device_enable_srq:  // no service requests: no interrupt channel
    case create_intr_chan:
        return ErrorReply(call, kNotSupported);
    case device_docmd:
        return Success(call, Xdr(xdr_Device_DocmdResp),
                       Device_DocmdResp{kNotSupported, {0, nullptr}});
    case destroy_intr_chan:
        return ErrorReply(call, kChannelNotEstablished);
    default:
        return call.Reply(Accepted::ProcedureUnavailable);
    }
}

// The link the connection's waiting call is on (every call but create_link
// starts with its link id); -1 for none.
long Vxi11Server::WaitingLink(const Connection& connection)
{
    const RpcCall call = RpcCall::Parse(connection.waiting->bytes);
    if (call.kind != RpcCall::Kind::Call || call.procedure == create_link ||
        call.arguments.size() < 4) {
        return -1;
    }
    Decoded<Device_Link> lid(call.arguments.substr(0, 4), Xdr(xdr_Device_Link));
    return lid.Ok() ? lid.value : -1;
}

bool Vxi11Server::WaitedOut(Connection& connection, WaitKind kind, unsigned long ms)
{
    const Clock::time_point now = Clock::now();
    if (connection.waitKind != kind) {
        connection.waitKind = kind;
        connection.waitUntil = now + std::chrono::milliseconds(std::min(ms, 1UL << 31));
    }
    return now >= connection.waitUntil;
}

Vxi11Server::Link* Vxi11Server::Find(long lid)
{
    const auto found = std::find_if(m_links.begin(), m_links.end(),
                                    [lid](const Link& link) { return link.id == lid; });
    return found == m_links.end() ? nullptr : &*found;
}

long Vxi11Server::Usable(Connection& connection, long lid, long flags, unsigned long lockTimeout,
                         Link*& link, bool& wait)
{
    wait = false;
    link = Find(lid);
    if (link == nullptr || link->connection != connection.serial) {
        return kInvalidLink;
    }
    if (connection.aborted) {
        return kAborted;
    }
    if (m_lockHolder < 0 || m_lockHolder == lid) {
        return kNoError;
    }
    wait = (flags & kWaitLock) != 0 && !WaitedOut(connection, WaitKind::Lock, lockTimeout);
    return kLocked;
}

long Vxi11Server::NewLinkId()
{
    for (;;) {
        const long id = static_cast<long>(m_ids() & 0x7FFFFFFF);
        if (id != 0 && Find(id) == nullptr) {
            return id;
        }
    }
}

Vxi11Server::Outcome Vxi11Server::CreateLink(Connection& connection, const RpcCall& call)
{
    Decoded<Create_LinkParms> parms(call.arguments, Xdr(xdr_Create_LinkParms));
    if (!parms.Ok()) {
        return call.Reply(Accepted::GarbageArguments);
    }
    Create_LinkResp result{};
    result.abortPort = m_abortPort;
    result.maxRecvSize = kMostWriteBytes;
    const auto reply = [&](long error) {
        result.error = error;
        return Success(call, Xdr(xdr_Create_LinkResp), result);
    };
    // The instrument's one device is inst0, as clients name it by default.
    if (parms.value.device == nullptr || strcasecmp(parms.value.device, "inst0") != 0) {
        return reply(kNotAccessible);
    }
    const auto mine = std::count_if(m_links.begin(), m_links.end(), [&](const Link& link) {
        return link.connection == connection.serial;
    });
    if (m_links.size() >= kMostLinks || static_cast<std::size_t>(mine) >= kMostLinksPerConnection) {
        return reply(kOutOfResources);
    }
    if (parms.value.lockDevice && m_lockHolder >= 0) {
        if (connection.aborted) {
            return reply(kAborted);
        }
        if (!WaitedOut(connection, WaitKind::Lock, parms.value.lock_timeout)) {
            return std::nullopt;
        }
        return reply(kLocked);
    }
    Link link;
    link.id = NewLinkId();
    link.connection = connection.serial;
    link.exchange =
        std::make_unique<MessageExchange>(m_instrument, MessageExchange::Transport::Vxi11);
    if (parms.value.lockDevice) {
        m_lockHolder = link.id;
    }
    result.lid = link.id;
    m_links.push_back(std::move(link));
    return reply(kNoError);
}

Vxi11Server::Outcome Vxi11Server::Write(Connection& connection, const RpcCall& call)
{
    Decoded<Device_WriteParms> parms(call.arguments, Xdr(xdr_Device_WriteParms));
    if (!parms.Ok()) {
        return call.Reply(Accepted::GarbageArguments);
    }
    const Device_WriteParms& p = parms.value;
    Link* link = nullptr;
    bool wait = false;
    long error = Usable(connection, p.lid, p.flags, p.lock_timeout, link, wait);
    if (wait) {
        return std::nullopt;
    }
    std::uint32_t size = 0;
    if (error == kNoError && !link->exchange->Accepting()) {
        // Earlier messages still to run (behind one that waits): room comes.
        if (!WaitedOut(connection, WaitKind::Io, p.io_timeout)) {
            return std::nullopt;
        }
        error = kIoTimeout;
    }
    if (error == kNoError) {
        link->exchange->Feed(std::string_view(p.data.data_val, p.data.data_len),
                             (p.flags & kEndFlag) != 0);
        link->exchange->Run();
        size = p.data.data_len;
    }
    return Success(call, Xdr(xdr_Device_WriteResp), Device_WriteResp{error, size});
}

Vxi11Server::Outcome Vxi11Server::Read(Connection& connection, const RpcCall& call)
{
    Decoded<Device_ReadParms> parms(call.arguments, Xdr(xdr_Device_ReadParms));
    if (!parms.Ok()) {
        return call.Reply(Accepted::GarbageArguments);
    }
    const Device_ReadParms& p = parms.value;
    Link* link = nullptr;
    bool wait = false;
    Device_ReadResp result{};
    result.error = Usable(connection, p.lid, p.flags, p.lock_timeout, link, wait);
    if (wait) {
        return std::nullopt;
    }
    if (result.error == kNoError && !link->exchange->HasAnswer()) {
        if (!link->exchange->Busy()) {
            link->exchange->ReadNothing();  // no answer is coming
            result.error = kIoTimeout;
        } else if (!WaitedOut(connection, WaitKind::Io, p.io_timeout)) {
            return std::nullopt;  // its message is still to run, or waits
        } else {
            result.error = kIoTimeout;
        }
    }
    std::string data;
    if (result.error == kNoError) {
        const std::string& answer = link->exchange->Answer();
        std::size_t size = std::min<std::size_t>({p.requestSize, answer.size(), kMostReadBytes});
        if ((p.flags & kTermCharSet) != 0) {
            if (const std::size_t at = answer.find(p.termChar); at < size) {
                size = at + 1;
                result.reason |= kTermCharSeen;
            }
        }
        if (size == answer.size()) {
            result.reason |= kEnd;
        } else if (size == p.requestSize) {
            result.reason |= kRequestCount;
        }
        data.assign(answer, 0, size);
        link->exchange->Consume(size);
    }
    result.data.data_len = static_cast<u_int>(data.size());
    result.data.data_val = data.data();
    return Success(call, Xdr(xdr_Device_ReadResp), result, data.size());
}

Vxi11Server::Outcome Vxi11Server::Lock(Connection& connection, const RpcCall& call)
{
    Decoded<Device_LockParms> parms(call.arguments, Xdr(xdr_Device_LockParms));
    if (!parms.Ok()) {
        return call.Reply(Accepted::GarbageArguments);
    }
    // (asking for the lock is asking to wait for it, as VISA's viLock does:
    // up to lock_timeout, with or without the waitlock flag)
    Link* link = nullptr;
    bool wait = false;
    const long error = Usable(connection, parms.value.lid, parms.value.flags | kWaitLock,
                              parms.value.lock_timeout, link, wait);
    if (wait) {
        return std::nullopt;
    }
    if (error == kNoError) {
        m_lockHolder = link->id;
    }
    return ErrorReply(call, error);
}

// The calls that take Device_GenericParms.
Vxi11Server::Outcome Vxi11Server::Generic(Connection& connection, const RpcCall& call)
{
    Decoded<Device_GenericParms> parms(call.arguments, Xdr(xdr_Device_GenericParms));
    if (!parms.Ok()) {
        return call.Reply(Accepted::GarbageArguments);
    }
    Link* link = nullptr;
    bool wait = false;
    long error = Usable(connection, parms.value.lid, parms.value.flags, parms.value.lock_timeout,
                        link, wait);
    if (wait) {
        return std::nullopt;
    }
    if (call.procedure == device_readstb) {
        Device_ReadStbResp result{error, 0};
        if (error == kNoError) {
            result.stb = static_cast<u_char>(m_instrument.StatusByte(link->exchange->HasAnswer()));
        }
        return Success(call, Xdr(xdr_Device_ReadStbResp), result);
    }
    if (error == kNoError && call.procedure == device_clear) {
        // A device clear: the link's unrun messages, a waiting one and
        // unread answers go, as closing a raw connection drops them; the
        // instrument keeps its state.
        link->exchange->Clear();
    } else if (error == kNoError && call.procedure == device_trigger) {
        error = kNotSupported;  // the generator has no trigger
    }
    return ErrorReply(call, error);
}

// device_unlock and destroy_link: a link's own, never waiting.
Vxi11Server::Outcome Vxi11Server::OnLink(Connection& connection, const RpcCall& call)
{
    Decoded<Device_Link> lid(call.arguments, Xdr(xdr_Device_Link));
    if (!lid.Ok()) {
        return call.Reply(Accepted::GarbageArguments);
    }
    Link* link = Find(lid.value);
    if (link == nullptr || link->connection != connection.serial) {
        return ErrorReply(call, kInvalidLink);
    }
    if (call.procedure == device_unlock) {
        if (m_lockHolder != link->id) {
            return ErrorReply(call, kNoLockHeld);
        }
        m_lockHolder = -1;
        return ErrorReply(call, kNoError);
    }
    if (m_lockHolder == link->id) {
        m_lockHolder = -1;
    }
    std::erase_if(m_links, [&](Link& each) { return each.id == lid.value && Release(each); });
    return ErrorReply(call, kNoError);
}

// A connection that closes (or is let go) takes its links and its lock.
void Vxi11Server::CloseConnection(Connection& connection)
{
    if (connection.closed) {
        return;
    }
    connection.closed = true;
    close(connection.fd);
    std::erase_if(m_links, [&](Link& link) {
        if (link.connection != connection.serial) {
            return false;
        }
        if (m_lockHolder == link.id) {
            m_lockHolder = -1;
        }
        return Release(link);
    });
}

// A link that ends: the whole messages written to it still run (their
// answers go nowhere), as a raw client's do when it closes. Always true.
bool Vxi11Server::Release(Link& link)
{
    if (link.exchange->Busy()) {
        m_orphans.push_back(std::move(link.exchange));
    }
    return true;
}
