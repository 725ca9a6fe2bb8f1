#include "Vxi11Server.h"

#include <arpa/inet.h>
#include <netconfig.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc_com.h>
#include <rpc/rpcb_clnt.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "ScpiServer.h"
#include "vxi11.h"

namespace {

// The protocol's error codes.
constexpr long kNoError = 0;
constexpr long kNotAccessible = 3;
constexpr long kInvalidLink = 4;
constexpr long kChannelNotEstablished = 6;
constexpr long kNotSupported = 8;
constexpr long kOutOfResources = 9;
constexpr long kLocked = 11;
constexpr long kNoLockHeld = 12;
constexpr long kIoTimeout = 15;

// Flags of a call, and the reasons a read ends.
constexpr long kEndFlag = 0x08;
constexpr long kTermCharSet = 0x80;
constexpr long kRequestCount = 0x01;
constexpr long kTermCharSeen = 0x02;
constexpr long kEnd = 0x04;

// The largest write a client is told to send in one call.
constexpr unsigned kMostWriteBytes = ScpiServer::kMostLineBytes;

// ONC RPC hands a dispatcher no context of its own: the one server of the
// process, while it lives.
Vxi11Server* g_serving = nullptr;

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

// Decodes the call's arguments, runs `handle` on them and sends its result.
template <class Arguments, class Result, class Handler>
void Answer(SVCXPRT* transport, xdrproc_t decode, xdrproc_t encode, Handler handle)
{
    Arguments arguments{};
    if (!svc_getargs(transport, decode, reinterpret_cast<char*>(&arguments))) {
        svcerr_decode(transport);
        return;
    }
    Result result{};
    handle(arguments, result);
    svc_sendreply(transport, encode, reinterpret_cast<char*>(&result));
    svc_freeargs(transport, decode, reinterpret_cast<char*>(&arguments));
}

// A call that takes a link (or its generic parameters) and answers an error.
template <class Arguments, class Handler>
void AnswerError(SVCXPRT* transport, xdrproc_t decode, Handler handle)
{
    Answer<Arguments, Device_Error>(transport, decode, Xdr(xdr_Device_Error),
                                    [&](const Arguments& arguments, Device_Error& result) {
                                        result.error = handle(arguments);
                                    });
}

}  // namespace

Vxi11Server::Vxi11Server(ScpiInstrument& instrument) : m_instrument(instrument)
{
    g_serving = this;
}

Vxi11Server::~Vxi11Server()
{
    if (m_registered) {
        Map(false);
    }
    // (No svc_unreg: it withdraws the program from rpcbind too, which may
    // be another server's registration.)
    for (auto [transport, fd] : {std::pair{m_core, m_coreFd}, std::pair{m_abort, m_abortFd}}) {
        if (transport != nullptr) {
            SVC_DESTROY(transport);  // (closes its socket)
        } else if (fd >= 0) {
            close(fd);
        }
    }
    g_serving = nullptr;
}

std::string Vxi11Server::Start(const in_addr& address)
{
    // Connections read without blocking: a client that sends half a call
    // holds up no other.
    int mostRecord = static_cast<int>(kMostWriteBytes) + 4096;
    rpc_control(RPC_SVC_CONNMAXREC_SET, &mostRecord);
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
    m_core = svc_vc_create(m_coreFd, 0, 0);
    m_abort = svc_vc_create(m_abortFd, 0, 0);
    // (protocol 0: the programs are registered with rpcbind by Register)
    if (m_core == nullptr || m_abort == nullptr ||
        !svc_register(m_core, DEVICE_CORE, DEVICE_CORE_VERSION, ServeCore, 0) ||
        !svc_register(m_abort, DEVICE_ASYNC, DEVICE_ASYNC_VERSION, ServeAbort, 0)) {
        return "cannot serve VXI-11 (the RPC library failed)";
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
    fds.insert(fds.end(), svc_pollfd, svc_pollfd + svc_max_pollfd);
}

void Vxi11Server::Dispatch(const pollfd* fds, std::size_t count)
{
    const auto ready =
        std::count_if(fds, fds + count, [](const pollfd& fd) { return fd.revents != 0; });
    if (ready > 0) {
        // (reads only revents and fd; the library's signature is not const)
        svc_getreq_poll(const_cast<pollfd*>(fds), static_cast<int>(ready));
        DropClosedLinks();
    }
}

void Vxi11Server::ServeAbort(svc_req* request, SVCXPRT* transport)
{
    Vxi11Server& server = *g_serving;
    switch (request->rq_proc) {
    case NULLPROC:
        svc_sendreply(transport, Xdr(xdr_void), nullptr);
        break;
    case device_abort:
        AnswerError<Device_Link>(transport, Xdr(xdr_Device_Link),
                                 [&](Device_Link lid) { return server.Abort(lid); });
        break;
    default:
        svcerr_noproc(transport);
        break;
    }
}

void Vxi11Server::ServeCore(svc_req* request, SVCXPRT* transport)
{
    Vxi11Server& server = *g_serving;
    const auto generic = [&](long answer) {
        AnswerError<Device_GenericParms>(
            transport, Xdr(xdr_Device_GenericParms),
            [&](const Device_GenericParms& parms) { return server.Generic(parms.lid, answer); });
    };
    switch (request->rq_proc) {
    case NULLPROC:
        svc_sendreply(transport, Xdr(xdr_void), nullptr);
        break;
    case create_link:
        Answer<Create_LinkParms, Create_LinkResp>(
            transport, Xdr(xdr_Create_LinkParms), Xdr(xdr_Create_LinkResp),
            [&](const Create_LinkParms& parms, Create_LinkResp& result) {
                server.CreateLink(parms, result, transport->xp_fd);
            });
        break;
    case device_write:
        Answer<Device_WriteParms, Device_WriteResp>(
            transport, Xdr(xdr_Device_WriteParms), Xdr(xdr_Device_WriteResp),
            [&](const Device_WriteParms& parms, Device_WriteResp& result) {
                std::uint32_t size = 0;
                result.error = server.Write(parms, size);
                result.size = size;
            });
        break;
    case device_read:
        Answer<Device_ReadParms, Device_ReadResp>(
            transport, Xdr(xdr_Device_ReadParms), Xdr(xdr_Device_ReadResp),
            [&](const Device_ReadParms& parms, Device_ReadResp& result) {
                result.error = server.Read(parms, result);
            });
        break;
    case device_readstb:
        Answer<Device_GenericParms, Device_ReadStbResp>(
            transport, Xdr(xdr_Device_GenericParms), Xdr(xdr_Device_ReadStbResp),
            [&](const Device_GenericParms& parms, Device_ReadStbResp& result) {
                unsigned char statusByte = 0;
                result.error = server.ReadStatusByte(parms.lid, statusByte);
                result.stb = statusByte;
            });
        break;
    case device_clear:
        AnswerError<Device_GenericParms>(
            transport, Xdr(xdr_Device_GenericParms),
            [&](const Device_GenericParms& parms) { return server.Clear(parms.lid); });
        break;
    case device_trigger:  // the generator has no trigger
        generic(kNotSupported);
        break;
    case device_remote:
    case device_local:
        generic(kNoError);
        break;
    case device_lock:
        AnswerError<Device_LockParms>(
            transport, Xdr(xdr_Device_LockParms),
            [&](const Device_LockParms& parms) { return server.Lock(parms.lid); });
        break;
    case device_unlock:
        AnswerError<Device_Link>(transport, Xdr(xdr_Device_Link),
                                 [&](Device_Link lid) { return server.Unlock(lid); });
        break;
    case destroy_link:
        AnswerError<Device_Link>(transport, Xdr(xdr_Device_Link),
                                 [&](Device_Link lid) { return server.Destroy(lid); });
        break;
    case device_enable_srq:  // no service requests: no interrupt channel
        AnswerError<Device_EnableSrqParms>(
            transport, Xdr(xdr_Device_EnableSrqParms),
            [](const Device_EnableSrqParms&) { return kNotSupported; });
        break;
    case device_docmd:
        Answer<Device_DocmdParms, Device_DocmdResp>(
            transport, Xdr(xdr_Device_DocmdParms), Xdr(xdr_Device_DocmdResp),
            [](const Device_DocmdParms&, Device_DocmdResp& result) {
                result.error = kNotSupported;
            });
        break;
    case create_intr_chan:
        AnswerError<Device_RemoteFunc>(transport, Xdr(xdr_Device_RemoteFunc),
                                       [](const Device_RemoteFunc&) { return kNotSupported; });
        break;
    case destroy_intr_chan: {
        Device_Error result{kChannelNotEstablished};
        svc_sendreply(transport, Xdr(xdr_Device_Error), reinterpret_cast<char*>(&result));
        break;
    }
    default:
        svcerr_noproc(transport);
        break;
    }
}

void Vxi11Server::CreateLink(const Create_LinkParms& parms, Create_LinkResp& result, int connection)
{
    result.abortPort = m_abortPort;
    result.maxRecvSize = kMostWriteBytes;
    // The instrument's one device is inst0, as clients name it by default.
    if (parms.device == nullptr || strcasecmp(parms.device, "inst0") != 0) {
        result.error = kNotAccessible;
        return;
    }
    if (m_links.size() >= kMostLinks) {
        result.error = kOutOfResources;
        return;
    }
    if (parms.lockDevice && m_lockHolder >= 0) {
        result.error = kLocked;
        return;
    }
    Link link;
    link.id = m_nextLink;
    link.connection = connection;
    m_nextLink = m_nextLink == LONG_MAX ? 0 : m_nextLink + 1;
    if (parms.lockDevice) {
        m_lockHolder = link.id;
    }
    m_links.push_back(std::move(link));
    result.lid = m_links.back().id;
    result.error = kNoError;
}

Vxi11Server::Link* Vxi11Server::Find(long lid)
{
    const auto found = std::find_if(m_links.begin(), m_links.end(),
                                    [lid](const Link& link) { return link.id == lid; });
    return found == m_links.end() ? nullptr : &*found;
}

long Vxi11Server::Usable(long lid, Link*& link)
{
    link = Find(lid);
    if (link == nullptr) {
        return kInvalidLink;
    }
    return m_lockHolder >= 0 && m_lockHolder != lid ? kLocked : kNoError;
}

// Runs the line a message has ended; its answer waits for a read.
void Vxi11Server::RunLine(Link& link)
{
    if (!link.discarding && !link.input.empty()) {
        if (link.input.back() == '\r') {
            link.input.pop_back();
        }
        if (link.output.size() > kMostOutputBytes) {
            link.output.clear();
            m_instrument.QueryInterrupted();
        }
        const std::string answer = m_instrument.Execute(link.input, link.session);
        if (!answer.empty()) {
            link.output += answer;
            link.output += '\n';
        }
    }
    link.input.clear();
    link.discarding = false;
}

long Vxi11Server::Write(const Device_WriteParms& parms, std::uint32_t& size)
{
    Link* link = nullptr;
    if (const long error = Usable(parms.lid, link); error != kNoError) {
        return error;
    }
    for (u_int i = 0; i < parms.data.data_len; ++i) {
        const char c = parms.data.data_val[i];
        if (c == '\n') {
            RunLine(*link);
        } else if (!link->discarding) {
            link->input += c;
            if (link->input.size() > ScpiServer::kMostLineBytes) {
                m_instrument.TooLong();
                link->input.clear();
                link->discarding = true;
            }
        }
    }
    if ((parms.flags & kEndFlag) != 0) {
        RunLine(*link);
    }
    size = parms.data.data_len;
    return kNoError;
}

long Vxi11Server::Read(const Device_ReadParms& parms, Device_ReadResp& result)
{
    Link* link = nullptr;
    if (const long error = Usable(parms.lid, link); error != kNoError) {
        return error;
    }
    if (link->output.empty()) {
        m_instrument.QueryUnterminated();
        return kIoTimeout;
    }
    std::size_t size = std::min<std::size_t>(parms.requestSize, link->output.size());
    long reason = 0;
    if ((parms.flags & kTermCharSet) != 0) {
        if (const std::size_t at = link->output.find(parms.termChar); at < size) {
            size = at + 1;
            reason |= kTermCharSeen;
        }
    }
    if (size == link->output.size()) {
        reason |= kEnd;
    } else if (size == parms.requestSize) {
        reason |= kRequestCount;
    }
    m_reply.assign(link->output, 0, size);
    link->output.erase(0, size);
    result.reason = reason;
    result.data.data_len = static_cast<u_int>(size);
    result.data.data_val = m_reply.data();
    return kNoError;
}

long Vxi11Server::ReadStatusByte(long lid, unsigned char& statusByte)
{
    Link* link = nullptr;
    if (const long error = Usable(lid, link); error != kNoError) {
        return error;
    }
    statusByte = static_cast<unsigned char>(m_instrument.StatusByte(!link->output.empty()));
    return kNoError;
}

// A device clear: the link's unfinished message and unread answers go, as
// closing a raw connection would drop them; the instrument keeps its state.
long Vxi11Server::Clear(long lid)
{
    Link* link = nullptr;
    if (const long error = Usable(lid, link); error != kNoError) {
        return error;
    }
    link->input.clear();
    link->discarding = false;
    link->output.clear();
    link->session = {};
    return kNoError;
}

long Vxi11Server::Generic(long lid, long answer)
{
    Link* link = nullptr;
    const long error = Usable(lid, link);
    return error != kNoError ? error : answer;
}

long Vxi11Server::Lock(long lid)
{
    Link* link = nullptr;
    const long error = Usable(lid, link);
    if (error == kNoError) {
        m_lockHolder = lid;
    }
    return error;
}

long Vxi11Server::Unlock(long lid)
{
    if (Find(lid) == nullptr) {
        return kInvalidLink;
    }
    if (m_lockHolder != lid) {
        return kNoLockHeld;
    }
    m_lockHolder = -1;
    return kNoError;
}

long Vxi11Server::Destroy(long lid)
{
    const auto found = std::find_if(m_links.begin(), m_links.end(),
                                    [lid](const Link& link) { return link.id == lid; });
    if (found == m_links.end()) {
        return kInvalidLink;
    }
    if (m_lockHolder == lid) {
        m_lockHolder = -1;
    }
    m_links.erase(found);
    return kNoError;
}

// Every call is answered before the next is read, so there is never one
// under way to abort.
long Vxi11Server::Abort(long lid)
{
    return Find(lid) == nullptr ? kInvalidLink : kNoError;
}

// A client that went away without destroy_link leaves no link, and no lock.
void Vxi11Server::DropClosedLinks()
{
    const auto open = [](int fd) {
        return std::any_of(svc_pollfd, svc_pollfd + svc_max_pollfd,
                           [fd](const pollfd& polled) { return polled.fd == fd; });
    };
    std::erase_if(m_links, [&](const Link& link) {
        if (open(link.connection)) {
            return false;
        }
        if (m_lockHolder == link.id) {
            m_lockHolder = -1;
        }
        return true;
    });
}
