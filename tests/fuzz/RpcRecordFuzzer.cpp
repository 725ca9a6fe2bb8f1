// Feeds arbitrary bytes, cut at arbitrary places, to the VXI-11 record
// layer and the call header reader, and checks what must always hold: no
// record is kept beyond its bound, every record taken framed again reads
// back the same, and a call's arguments lie inside its record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "RpcCall.h"
#include "RpcRecordStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kMost = 4096;
    if (size == 0) {
        return 0;
    }
    const std::size_t cut = 1 + data[0] % 64;  // the bytes a read gives at once
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    RpcRecordStream stream(kMost);
    while (!input.empty()) {
        stream.Feed(input.substr(0, cut));
        input.remove_prefix(std::min(cut, input.size()));
        if (stream.HeldBytes() > 2 * kMost + size) {
            std::abort();
        }
        while (stream.HasRecord()) {
            const RpcRecordStream::Record record = stream.TakeRecord();
            if (record.bytes.size() > (record.cut ? RpcRecordStream::kKeptOfLongRecord : kMost)) {
                std::abort();
            }
            RpcRecordStream again(kMost);
            again.Feed(RpcRecordStream::Frame(record.bytes));
            if (!again.HasRecord() || again.TakeRecord().bytes != record.bytes) {
                std::abort();
            }
            const RpcCall call = RpcCall::Parse(record.bytes);
            if (call.kind == RpcCall::Kind::Call &&
                (call.arguments.data() < record.bytes.data() ||
                 call.arguments.data() + call.arguments.size() >
                     record.bytes.data() + record.bytes.size())) {
                std::abort();
            }
            // A reply always starts with the call's xid.
            const std::string reply = call.Reply(RpcCall::Accepted::GarbageArguments);
            if (reply.size() < 24) {
                std::abort();
            }
        }
    }
    return 0;
}
