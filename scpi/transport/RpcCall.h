#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// An ONC RPC call as a server reads it (RFC 5531): its header read from a
// record, and the replies it may get, each a whole record to frame.
struct RpcCall {
    enum class Kind {
        Call,      // a call to answer
        WrongRpc,  // not RPC version 2: denied
        NotACall,  // a reply, or too short to say: ignored
    };
    // The accepted replies' status.
    enum class Accepted : std::uint32_t {
        Success = 0,
        ProgramUnavailable = 1,
        ProgramMismatch = 2,
        ProcedureUnavailable = 3,
        GarbageArguments = 4,
    };

    Kind kind = Kind::NotACall;
    std::uint32_t xid = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
    std::string_view arguments;  // the body after the credentials

    static RpcCall Parse(std::string_view record);

    // An accepted reply: its status, then `results` (already XDR-encoded);
    // a program mismatch names version 1 as the only one.
    std::string Reply(Accepted status, std::string_view results = {}) const;
    // The denial of a call that is not RPC version 2.
    std::string Deny() const;
};
