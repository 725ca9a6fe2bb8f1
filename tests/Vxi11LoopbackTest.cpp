// The instrument server in this process on loopback (no rpcbind, no root),
// driven over VXI-11 by the RPC library's own client and over the raw
// socket: the message exchange, waits, aborts and who owns a link.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "FakeTickSource.h"
#include "RpcRecordStream.h"
#include "ScpiServer.h"
#include "SilentWaveOut.h"
#include "SlowSwitchWaveOut.h"
#include "Vxi11Server.h"
#include "WaitFor.h"
#include "vxi11.h"

namespace {

constexpr long kWaitLock = 0x01;
constexpr long kEnd = 0x08;
constexpr long kTermChar = 0x80;

// The server loop on its own thread, until the fixture goes.
class LoopbackServer {
public:
    // `device`: the output to play on (a silent one when none is given).
    explicit LoopbackServer(IWaveOut* device = nullptr)
        : m_instrument(device != nullptr ? *device : m_silent, m_ticks), m_vxi11(m_instrument)
    {
        in_addr loopback{htonl(INADDR_LOOPBACK)};
        EXPECT_EQ(m_vxi11.Start(loopback), "");
        m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr = loopback;
        socklen_t size = sizeof where;
        EXPECT_EQ(bind(m_listenFd, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
        EXPECT_EQ(listen(m_listenFd, 64), 0);
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&where), &size);
        m_rawPort = ntohs(where.sin_port);
        m_server = std::make_unique<ScpiServer>(m_instrument, m_listenFd, m_stopFd, -1,
                                                std::vector<IPollSource*>{&m_vxi11});
        m_thread = std::thread([this] { m_server->Run(); });
    }
    ~LoopbackServer()
    {
        const std::uint64_t one = 1;
        EXPECT_EQ(write(m_stopFd, &one, sizeof one), 8);
        m_thread.join();
        close(m_listenFd);
        close(m_stopFd);
    }

    unsigned short CorePort() const { return m_vxi11.CorePort(); }
    unsigned short AbortPort() const { return m_vxi11.AbortPort(); }
    unsigned short RawPort() const { return m_rawPort; }

private:
    SilentWaveOut m_silent;
    FakeTickSource m_ticks;
    ScpiInstrument m_instrument;
    Vxi11Server m_vxi11;
    int m_listenFd = -1;
    int m_stopFd = eventfd(0, EFD_CLOEXEC);
    unsigned short m_rawPort = 0;
    std::unique_ptr<ScpiServer> m_server;
    std::thread m_thread;
};

// One connection to a channel, through the RPC library's TCP client.
class Channel {
public:
    Channel(unsigned short port, unsigned long program)
    {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        where.sin_port = htons(port);
        int fd = RPC_ANYSOCK;
        m_client = clnttcp_create(&where, program, 1, &fd, 0, 0);
    }
    ~Channel()
    {
        if (m_client != nullptr) {
            clnt_destroy(m_client);
        }
    }
    bool Open() const { return m_client != nullptr; }

    template <class Arguments, class Result>
    Result Call(rpcproc_t procedure, xdrproc_t encode, const Arguments& arguments, xdrproc_t decode)
    {
        Result result{};
        const timeval timeout{20, 0};  // (a deadline for a loaded machine, not a measure)
        const clnt_stat status =
            clnt_call(m_client, procedure, encode,
                      reinterpret_cast<char*>(const_cast<Arguments*>(&arguments)), decode,
                      reinterpret_cast<char*>(&result), timeout);
        EXPECT_EQ(status, RPC_SUCCESS) << clnt_sperrno(status);
        return result;
    }

private:
    CLIENT* m_client = nullptr;
};

template <class Procedure>
xdrproc_t Xdr(Procedure procedure)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(procedure));
}

// A core channel with the operations a VISA library uses.
class Core : public Channel {
public:
    explicit Core(unsigned short port) : Channel(port, DEVICE_CORE) {}

    Create_LinkResp CreateLink(bool locked = false, unsigned long lockTimeout = 0)
    {
        Create_LinkParms parms{1, locked, lockTimeout, const_cast<char*>("inst0")};
        return Call<Create_LinkParms, Create_LinkResp>(create_link, Xdr(xdr_Create_LinkParms),
                                                       parms, Xdr(xdr_Create_LinkResp));
    }
    long Write(long lid, const std::string& data, long flags = kEnd, unsigned long lockTimeout = 0)
    {
        Device_WriteParms parms{lid,
                                5000,
                                lockTimeout,
                                flags,
                                {static_cast<u_int>(data.size()), const_cast<char*>(data.data())}};
        return Call<Device_WriteParms, Device_WriteResp>(device_write, Xdr(xdr_Device_WriteParms),
                                                         parms, Xdr(xdr_Device_WriteResp))
            .error;
    }
    struct Read {
        long error;
        long reason;
        std::string data;
    };
    Read ReadAnswer(long lid, unsigned long most = 65536, long flags = 0, char termChar = 0,
                    unsigned long ioTimeout = 5000)
    {
        Device_ReadParms parms{lid, most, ioTimeout, 0, flags, termChar};
        Device_ReadResp result = Call<Device_ReadParms, Device_ReadResp>(
            device_read, Xdr(xdr_Device_ReadParms), parms, Xdr(xdr_Device_ReadResp));
        Read read{result.error, result.reason,
                  std::string(result.data.data_val, result.data.data_len)};
        xdr_free(Xdr(xdr_Device_ReadResp), reinterpret_cast<char*>(&result));
        return read;
    }
    std::string Query(long lid, const std::string& message)
    {
        EXPECT_EQ(Write(lid, message), 0);
        return ReadAnswer(lid).data;
    }
    long Lock(long lid, long flags, unsigned long lockTimeout)
    {
        Device_LockParms parms{lid, flags, lockTimeout};
        return Call<Device_LockParms, Device_Error>(device_lock, Xdr(xdr_Device_LockParms), parms,
                                                    Xdr(xdr_Device_Error))
            .error;
    }
    long OnLink(rpcproc_t procedure, long lid)
    {
        return Call<Device_Link, Device_Error>(procedure, Xdr(xdr_Device_Link), lid,
                                               Xdr(xdr_Device_Error))
            .error;
    }
    long Clear(long lid)
    {
        Device_GenericParms parms{lid, 0, 0, 5000};
        return Call<Device_GenericParms, Device_Error>(device_clear, Xdr(xdr_Device_GenericParms),
                                                       parms, Xdr(xdr_Device_Error))
            .error;
    }
};

long Abort(unsigned short port, long lid)
{
    Channel channel(port, DEVICE_ASYNC);
    return channel
        .Call<Device_Link, Device_Error>(device_abort, Xdr(xdr_Device_Link), lid,
                                         Xdr(xdr_Device_Error))
        .error;
}

TEST(Vxi11Loopback, messageExchange_oneAnswerPerMessageAsIeee4882Says)
{
    LoopbackServer server;
    Core core(server.CorePort());
    ASSERT_TRUE(core.Open());
    const Create_LinkResp link = core.CreateLink();
    ASSERT_EQ(link.error, 0);
    const long lid = link.lid;
    EXPECT_EQ(link.maxRecvSize, Vxi11Server::kMostWriteBytes);
    // One message's answer in one read, END on its last byte; a message
    // written in parts runs at its END.
    EXPECT_EQ(core.Write(lid, "FREQ 1234;", 0), 0);
    EXPECT_EQ(core.Write(lid, "FREQ?"), 0);
    const Core::Read whole = core.ReadAnswer(lid);
    EXPECT_EQ(whole.data, "1.2340000000E+03\n");
    EXPECT_EQ(whole.reason, 0x04);
    // A short read leaves the rest for the next; a term char ends one.
    EXPECT_EQ(core.Write(lid, "FUNC?;FREQ?"), 0);
    EXPECT_EQ(core.ReadAnswer(lid, 4).data, "SIN;");
    const Core::Read atTerm = core.ReadAnswer(lid, 65536, kTermChar, 'E');
    EXPECT_EQ(atTerm.data, "1.2340000000E");
    EXPECT_EQ(atTerm.reason, 0x02);
    EXPECT_EQ(core.ReadAnswer(lid).data, "+03\n");
    // An answer left unread is discarded by the next message (-410); a
    // read with nothing coming answers at once (-420); a query after
    // *IDN? in one message (-440).
    EXPECT_EQ(core.Write(lid, "FREQ?"), 0);
    EXPECT_EQ(core.Query(lid, "FUNC?"), "SIN\n");
    EXPECT_EQ(core.ReadAnswer(lid).error, 15);
    EXPECT_EQ(core.Write(lid, "*IDN?;FREQ?"), 0);
    EXPECT_EQ(core.ReadAnswer(lid).data, "wavegen,wavegen-scpi,0,1.0.0\n");
    EXPECT_EQ(core.Query(lid, "SYST:ERR:ALL?"),
              "-410,\"Query INTERRUPTED\",-420,\"Query UNTERMINATED\","
              "-440,\"Query UNTERMINATED after indefinite response\"\n");
    // A block's bytes are data, newlines and all: nothing in it runs.
    EXPECT_EQ(core.Write(lid, "DATA:BLOCk test,#212\nOUTP ON;X\n\n"), 0);
    EXPECT_EQ(core.Query(lid, "OUTP?;:SYST:ERR:CODE:ALL?"), "0;-113\n");
    // #0 runs to the END, newlines and all.
    EXPECT_EQ(core.Write(lid, "VOLT #0\nOUTP ON\n"), 0);
    EXPECT_EQ(core.Query(lid, "OUTP?;:SYST:ERR:CODE?"), "0;-224\n");
    // A write longer than the link takes is refused (5); the connection
    // and its link go on.
    EXPECT_EQ(core.Write(lid, std::string(Vxi11Server::kMostWriteBytes + 4096, 'x')), 5);
    EXPECT_EQ(core.Query(lid, "OUTP?"), "0\n");
    EXPECT_EQ(core.OnLink(destroy_link, lid), 0);
}

TEST(Vxi11Loopback, waitsAbortsAndOwners_eachCallWaitsAloneAndOnlyForItsOwnLink)
{
    LoopbackServer server;
    Core holder(server.CorePort());
    Core other(server.CorePort());
    ASSERT_TRUE(holder.Open() && other.Open());
    const long held = holder.CreateLink(true).lid;
    const long lid = other.CreateLink().lid;
    // Not this connection's link: 4, whatever the call.
    EXPECT_EQ(other.Write(held, "FREQ 700"), 4);
    EXPECT_EQ(other.OnLink(device_unlock, held), 4);
    EXPECT_EQ(other.OnLink(destroy_link, held), 4);
    // Locked out without waitlock: 11 at once.
    EXPECT_EQ(other.Write(lid, "FREQ 700", kEnd, 10000), 11);
    // A lock wait ends at its link's abort (23), and only its own
    // (device_lock waits with or without waitlock, as VISA's viLock asks).
    auto waited = std::async(std::launch::async, [&] { return other.Lock(lid, 0, 20000); });
    while (waited.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        EXPECT_EQ(Abort(server.AbortPort(), lid), 0);  // (until the call is there)
    }
    EXPECT_EQ(waited.get(), 23);
    // A write with waitlock waits for the holder, who is served meanwhile.
    auto written = std::async(
        std::launch::async, [&] { return other.Write(lid, "FREQ 700", kEnd | kWaitLock, 20000); });
    EXPECT_EQ(holder.Query(held, "FREQ?"), "5.0000000000E+02\n");
    EXPECT_EQ(holder.OnLink(device_unlock, held), 0);
    EXPECT_EQ(written.get(), 0);
    EXPECT_EQ(holder.Query(held, "FREQ?"), "7.0000000000E+02\n");
    // A read waits for the answer of a message that waits for the sound
    // (*OPC? on a playing output), and a device clear drops it all.
    EXPECT_EQ(other.Query(lid, "OUTP ON;*OPC?"), "1\n");
    EXPECT_EQ(other.Clear(lid), 0);
    // A connection that goes away takes its links and lock with it.
    {
        Core gone(server.CorePort());
        EXPECT_EQ(gone.Lock(gone.CreateLink().lid, 0, 0), 0);
    }
    EXPECT_EQ(other.Lock(lid, kWaitLock, 20000), 0);
    // At most 8 links a connection: the 9th is refused to that one only.
    Core hoarder(server.CorePort());
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(hoarder.CreateLink().error, 0);
    }
    EXPECT_EQ(hoarder.CreateLink().error, 9);
    EXPECT_EQ(other.CreateLink().error, 0);
}

// A raw client's messages, sent and the connection closed at once.
void SendAndClose(unsigned short port, const std::string& messages)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    where.sin_port = htons(port);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    EXPECT_EQ(send(fd, messages.data(), messages.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(messages.size()));
    close(fd);
}

TEST(Vxi11Loopback, goneClients_theWholeMessagesTheySentStillRun)
{
    SlowSwitchWaveOut device;
    LoopbackServer server(&device);
    Core core(server.CorePort());
    const long lid = core.CreateLink().lid;
    EXPECT_EQ(core.Query(lid, "OUTP ON;*OPC?"), "1\n");
    const auto frequencyIs = [&](const char* answer) {
        return WaitFor([&] { return core.Query(lid, "FREQ?") == answer; });
    };
    // A raw client that closes behind a wait (a shell's one-off command).
    SendAndClose(server.RawPort(), "FREQ 1000;*WAI\nFREQ 2000\n");
    EXPECT_TRUE(frequencyIs("1.0000000000E+03\n"));
    device.Deliver();
    EXPECT_TRUE(frequencyIs("2.0000000000E+03\n"));
    // A VXI-11 link destroyed behind a wait.
    Core other(server.CorePort());
    const long ended = other.CreateLink().lid;
    EXPECT_EQ(other.Write(ended, "FREQ 3000;*WAI\nFREQ 4000\n"), 0);
    EXPECT_TRUE(frequencyIs("3.0000000000E+03\n"));
    EXPECT_EQ(other.OnLink(destroy_link, ended), 0);
    device.Deliver();
    EXPECT_TRUE(frequencyIs("4.0000000000E+03\n"));
}

// A raw SCPI query and its answer, on a fresh connection.
std::string RawQuery(unsigned short port, const std::string& message)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    where.sin_port = htons(port);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
        send(fd, message.data(), message.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(message.size())) {
        char c = 0;
        while (recv(fd, &c, 1, 0) == 1 && c != '\n') {
            answer += c;
        }
    }
    close(fd);
    return answer;
}

TEST(Vxi11Loopback, slowClients_neverHoldUpAnother)
{
    LoopbackServer server;
    // A VXI-11 client that sends calls for big answers and never reads its
    // replies, and raw clients that hold half a message each in every slot.
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    where.sin_port = htons(server.CorePort());
    ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    Core core(server.CorePort());
    const long lid = core.CreateLink().lid;
    // (the records a client makes: a device_read of this link, call after call)
    const auto readCall = [&](std::uint32_t xid) {
        std::string call;
        for (const std::uint32_t word : {xid, 0u, 2u, 0x0607AFu, 1u, 12u, 0u, 0u, 0u, 0u,
                                         static_cast<std::uint32_t>(lid), 65536u, 0u, 0u, 0u, 0u}) {
            for (int shift = 24; shift >= 0; shift -= 8) {
                call += static_cast<char>(word >> shift);
            }
        }
        return RpcRecordStream::Frame(call);
    };
    for (std::uint32_t xid = 1; xid <= 2000; ++xid) {
        const std::string call = readCall(xid);
        if (send(silent, call.data(), call.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
            break;  // its socket is full: it is not read any more
        }
    }
    std::vector<int> halves;
    for (std::size_t i = 0; i < ScpiServer::kMostClients + 4; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        where.sin_port = htons(server.RawPort());
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
        EXPECT_EQ(send(fd, "FREQ 12", 7, MSG_NOSIGNAL), 7);
        halves.push_back(fd);
    }
    // Every other client is answered: the held slots make room for it.
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(RawQuery(server.RawPort(), "FREQ?\n"), "5.0000000000E+02");
        EXPECT_EQ(core.Query(lid, "FUNC?"), "SIN\n");
    }
    for (const int fd : halves) {
        close(fd);
    }
    close(silent);
}

}  // namespace
