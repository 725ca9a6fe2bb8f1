#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

// ONC RPC's record marking on a stream (RFC 5531, section 11): each record
// is sent as fragments, each after four bytes that hold its length and, in
// the top bit, whether it is the record's last. Bytes in, whole records
// out; a record longer than the most kept is cut to its first
// kKeptOfLongRecord bytes (enough to answer it) and marked so.
class RpcRecordStream {
public:
    struct Record {
        std::string bytes;
        bool cut = false;  // longer than the stream takes
    };
    static constexpr std::size_t kKeptOfLongRecord = 1024;

    explicit RpcRecordStream(std::size_t mostRecordBytes) : m_most(mostRecordBytes) {}

    void Feed(std::string_view bytes);
    bool HasRecord() const { return !m_records.empty(); }
    Record TakeRecord();
    // The bytes held: records not yet taken and the one being read.
    std::size_t HeldBytes() const { return m_held + m_current.bytes.size(); }

    // A record as one last fragment, ready to send.
    static std::string Frame(std::string_view record);

private:
    const std::size_t m_most;
    unsigned char m_header[4] = {};
    std::size_t m_headerBytes = 0;
    std::uint32_t m_left = 0;  // of the fragment being read
    bool m_last = false;
    std::size_t m_length = 0;  // of the record being read, all of it
    Record m_current;
    std::deque<Record> m_records;
    std::size_t m_held = 0;
};
