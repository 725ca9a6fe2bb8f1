#include "RpcCall.h"

namespace {

constexpr std::uint32_t kCall = 0;
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kAccepted = 0;
constexpr std::uint32_t kDenied = 1;
constexpr std::uint32_t kRpcMismatch = 0;
constexpr std::uint32_t kRpcVersion = 2;
constexpr std::uint32_t kMostAuthBytes = 400;

// Big-endian 32-bit words, as XDR has them.
class Words {
public:
    explicit Words(std::string_view bytes) : m_bytes(bytes) {}

    bool Next(std::uint32_t& word)
    {
        if (m_bytes.size() < 4) {
            return false;
        }
        word = 0;
        for (int i = 0; i < 4; ++i) {
            word = word << 8 | static_cast<unsigned char>(m_bytes[static_cast<std::size_t>(i)]);
        }
        m_bytes.remove_prefix(4);
        return true;
    }
    // An opaque_auth: its flavour, then at most 400 bytes padded to 4.
    bool SkipAuth()
    {
        std::uint32_t flavour = 0;
        std::uint32_t length = 0;
        if (!Next(flavour) || !Next(length) || length > kMostAuthBytes) {
            return false;
        }
        const std::size_t padded = (length + 3u) & ~std::size_t{3};
        if (m_bytes.size() < padded) {
            return false;
        }
        m_bytes.remove_prefix(padded);
        return true;
    }
    std::string_view Rest() const { return m_bytes; }

private:
    std::string_view m_bytes;
};

void Put(std::string& out, std::uint32_t word)
{
    out += static_cast<char>(word >> 24);
    out += static_cast<char>(word >> 16);
    out += static_cast<char>(word >> 8);
    out += static_cast<char>(word);
}

}  // namespace

RpcCall RpcCall::Parse(std::string_view record)
{
    RpcCall call;
    Words words(record);
    std::uint32_t type = 0;
    std::uint32_t rpcVersion = 0;
    if (!words.Next(call.xid) || !words.Next(type) || type != kCall || !words.Next(rpcVersion)) {
        return call;
    }
    if (rpcVersion != kRpcVersion) {
        call.kind = Kind::WrongRpc;
        return call;
    }
    if (!words.Next(call.program) || !words.Next(call.version) || !words.Next(call.procedure) ||
        !words.SkipAuth() || !words.SkipAuth()) {
        return call;
    }
    call.kind = Kind::Call;
    call.arguments = words.Rest();
    return call;
}

std::string RpcCall::Reply(Accepted status, std::string_view results) const
{
    std::string out;
    for (const std::uint32_t word : {xid, kReply, kAccepted, 0u, 0u}) {  // (verifier: none)
        Put(out, word);
    }
    Put(out, static_cast<std::uint32_t>(status));
    if (status == Accepted::ProgramMismatch) {
        Put(out, 1);  // the lowest version served, and the highest
        Put(out, 1);
    }
    out.append(results);
    return out;
}

std::string RpcCall::Deny() const
{
    std::string out;
    for (const std::uint32_t word :
         {xid, kReply, kDenied, kRpcMismatch, kRpcVersion, kRpcVersion}) {
        Put(out, word);
    }
    return out;
}
