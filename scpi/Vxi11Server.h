#pragma once

#include <netinet/in.h>
#include <rpc/rpc.h>

#include <cstdint>
#include <string>
#include <vector>

#include "IPollSource.h"
#include "ScpiInstrument.h"

struct Create_LinkParms;
struct Create_LinkResp;
struct Device_WriteParms;
struct Device_ReadParms;
struct Device_ReadResp;

// The instrument over VXI-11: the core channel (links, device_write,
// device_read, device_readstb, device_clear, locks) and the abort channel,
// each an ONC RPC program on a TCP socket of its own, served from the
// instrument server's poll loop. The core program is registered with the
// system's rpcbind, where clients (and their broadcast discovery) find it.
//
// Each link has its own input, output and place in the command tree, on
// the one instrument. A message runs line by line, and its last line at
// the END flag. Every call answers at once: a read with no answer waiting
// answers "I/O timeout" (15) and queues -420, as no answer can come while
// the link's own channel waits; a call that finds the instrument locked by
// another link answers 11 without waiting for the lock.
class Vxi11Server : public IPollSource {
public:
    static constexpr std::size_t kMostLinks = 16;
    // The most unread answer bytes a link keeps; a message that finds more
    // clears them (-410), as a new command interrupts an unread query.
    static constexpr std::size_t kMostOutputBytes = 65536;

    explicit Vxi11Server(ScpiInstrument& instrument);
    ~Vxi11Server() override;
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    // Opens both channels on `address` (any free ports); "" or why not.
    std::string Start(const in_addr& address);
    // Registers the core channel with rpcbind; "" or why not.
    std::string Register();
    unsigned short CorePort() const { return m_corePort; }
    bool Registered() const { return m_registered; }

    void AddDescriptors(std::vector<pollfd>& fds) override;
    int TimeoutMs() const override { return -1; }
    void Dispatch(const pollfd* fds, std::size_t count) override;

private:
    struct Link {
        long id = 0;
        int connection = -1;  // the core channel's socket it was made on
        std::string input;    // the message's line not yet ended
        bool discarding = false;
        std::string output;  // answers not yet read
        ScpiSession session;
    };

    static void ServeCore(svc_req* request, SVCXPRT* transport);
    static void ServeAbort(svc_req* request, SVCXPRT* transport);

    void CreateLink(const Create_LinkParms& parms, Create_LinkResp& result, int connection);
    long Write(const Device_WriteParms& parms, std::uint32_t& size);
    long Read(const Device_ReadParms& parms, Device_ReadResp& result);
    long ReadStatusByte(long lid, unsigned char& statusByte);
    long Clear(long lid);
    long Generic(long lid, long answer);
    long Lock(long lid);
    long Unlock(long lid);
    long Destroy(long lid);
    long Abort(long lid);

    Link* Find(long lid);
    // The link, when it may act now: 4 (no such link) or 11 (locked).
    long Usable(long lid, Link*& link);
    void RunLine(Link& link);
    void DropClosedLinks();
    bool Map(bool set);

    ScpiInstrument& m_instrument;
    sockaddr_in m_address{};
    int m_coreFd = -1;
    int m_abortFd = -1;
    SVCXPRT* m_core = nullptr;
    SVCXPRT* m_abort = nullptr;
    unsigned short m_corePort = 0;
    unsigned short m_abortPort = 0;
    bool m_registered = false;
    std::vector<Link> m_links;
    long m_nextLink = 0;
    long m_lockHolder = -1;  // the link that holds the lock, or -1
    std::string m_reply;     // a read's answer while it is sent
};
