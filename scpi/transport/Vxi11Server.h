#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "IPollSource.h"
#include "MessageExchange.h"
#include "RpcCall.h"
#include "RpcRecordStream.h"
#include "ScpiInstrument.h"

// The instrument over VXI-11: the core channel (links, device_write,
// device_read, device_readstb, device_clear, locks) and the abort channel,
// each an ONC RPC program on a TCP socket of its own, served from the
// instrument server's poll loop: the connections are this class's own
// (record marking, call headers), the bodies are the rpcgen XDR routines'.
// The core program is registered with the system's rpcbind, where clients
// (and their broadcast discovery) find it.
//
// Each link has its own message exchange on the one instrument, and
// belongs to the connection that made it: a call on it from any other is
// refused (4), and it ends with its connection, its lock too. A call may
// wait without holding anyone: for the lock (waitlock, up to lock_timeout),
// a read for its answer (up to io_timeout), a write for room; calls behind
// it on the same connection wait their turn, and device_abort on the abort
// channel ends it. Replies are sent without blocking; a connection that
// does not read them is not read from either once kMostUnsentBytes wait.
// With every slot taken, the connection idle longest makes room.
class Vxi11Server : public IPollSource {
public:
    static constexpr std::size_t kMostConnections = 64;  // on each channel
    static constexpr std::size_t kMostLinksPerConnection = 8;
    static constexpr std::size_t kMostLinks = 128;
    // The largest write a client is told to send in one call, and the
    // most a read answers in one.
    static constexpr std::size_t kMostWriteBytes = 65536;
    static constexpr std::size_t kMostReadBytes = 65536;
    static constexpr std::size_t kMostUnsentBytes = 2 * kMostReadBytes;

    explicit Vxi11Server(ScpiInstrument& instrument);
    ~Vxi11Server() override;
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    // Opens both channels on `address` (any free ports); "" or why not.
    std::string Start(const in_addr& address);
    // Registers the core channel with rpcbind; "" or why not.
    std::string Register();
    unsigned short CorePort() const { return m_corePort; }
    unsigned short AbortPort() const { return m_abortPort; }
    bool Registered() const { return m_registered; }

    void AddDescriptors(std::vector<pollfd>& fds) override;
    int TimeoutMs() const override;
    void Dispatch(const pollfd* fds, std::size_t count) override;

private:
    using Clock = std::chrono::steady_clock;
    enum class Channel { Core, Abort };
    enum class WaitKind { None, Lock, Io };
    struct Connection {
        std::uint64_t serial = 0;  // never used again
        int fd = -1;
        Channel channel = Channel::Core;
        RpcRecordStream records{kMostWriteBytes + 1024};
        std::string unsent;  // replies, framed
        Clock::time_point lastHeard;
        // The call at the head of `records` while it waits.
        std::optional<RpcRecordStream::Record> waiting;
        WaitKind waitKind = WaitKind::None;
        Clock::time_point waitUntil;
        bool aborted = false;
        bool closed = false;
    };
    struct Link {
        long id = 0;
        std::uint64_t connection = 0;
        std::unique_ptr<MessageExchange> exchange;
    };
    // What a call's handler says: its reply, or that it waits.
    using Outcome = std::optional<std::string>;

    void Accept(int listenFd, Channel channel);
    bool ReadConnection(Connection& connection);
    bool SendReplies(Connection& connection);
    bool ServeCalls(Connection& connection);
    Outcome Serve(Connection& connection, const RpcRecordStream::Record& record);
    Outcome ServeCore(Connection& connection, const RpcCall& call);
    Outcome ServeAbort(const RpcCall& call);
    void CloseConnection(Connection& connection);

    static long WaitingLink(const Connection& connection);
    // The waits: true once `kind`'s deadline (set at its first call) has passed.
    bool WaitedOut(Connection& connection, WaitKind kind, unsigned long ms);

    Outcome CreateLink(Connection& connection, const RpcCall& call);
    Outcome Write(Connection& connection, const RpcCall& call);
    Outcome Read(Connection& connection, const RpcCall& call);
    Outcome Lock(Connection& connection, const RpcCall& call);
    Outcome Generic(Connection& connection, const RpcCall& call);
    Outcome OnLink(Connection& connection, const RpcCall& call);

    // The link `lid` of `connection`, when it may act now: 4 (not this
    // connection's link), 11 (locked: not waited for, or waited out), 23
    // (aborted), or nothing with `wait` set (wait for the lock).
    long Usable(Connection& connection, long lid, long flags, unsigned long lockTimeout,
                Link*& link, bool& wait);
    Link* Find(long lid);
    bool Release(Link& link);
    long NewLinkId();
    bool Map(bool set);

    ScpiInstrument& m_instrument;
    sockaddr_in m_address{};
    int m_coreFd = -1;
    int m_abortFd = -1;
    unsigned short m_corePort = 0;
    unsigned short m_abortPort = 0;
    bool m_registered = false;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<Connection*> m_polled;  // the connections of the last AddDescriptors
    bool m_pollingListeners = false;
    Clock::time_point m_acceptPausedUntil;
    std::uint64_t m_nextSerial = 1;
    std::vector<Link> m_links;
    // The exchanges of links that ended while messages were still to run.
    std::vector<std::unique_ptr<MessageExchange>> m_orphans;
    long m_lockHolder = -1;  // the link that holds the lock, or -1
    std::mt19937_64 m_ids;
};
