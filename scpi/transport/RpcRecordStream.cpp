#include "RpcRecordStream.h"

#include <algorithm>
#include <utility>

void RpcRecordStream::Feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (m_headerBytes < sizeof m_header) {
            m_header[m_headerBytes++] = static_cast<unsigned char>(bytes.front());
            bytes.remove_prefix(1);
            if (m_headerBytes == sizeof m_header) {
                const std::uint32_t word = std::uint32_t{m_header[0]} << 24 |
                                           std::uint32_t{m_header[1]} << 16 |
                                           std::uint32_t{m_header[2]} << 8 | m_header[3];
                m_last = (word & 0x80000000u) != 0;
                m_left = word & 0x7FFFFFFFu;
            }
        } else {
            const std::size_t take = std::min<std::size_t>(m_left, bytes.size());
            const std::size_t room =
                (m_current.cut ? kKeptOfLongRecord : m_most) - m_current.bytes.size();
            m_current.bytes.append(bytes.data(), std::min(take, room));
            m_length += take;
            if (m_length > m_most && !m_current.cut) {
                m_current.cut = true;
                m_current.bytes.resize(std::min(m_current.bytes.size(), kKeptOfLongRecord));
            }
            m_left -= static_cast<std::uint32_t>(take);
            bytes.remove_prefix(take);
        }
        if (m_headerBytes == sizeof m_header && m_left == 0) {
            m_headerBytes = 0;
            if (m_last) {
                m_held += m_current.bytes.size();
                m_records.push_back(std::move(m_current));
                m_current = {};
                m_length = 0;
            }
        }
    }
}

RpcRecordStream::Record RpcRecordStream::TakeRecord()
{
    Record record = std::move(m_records.front());
    m_records.pop_front();
    m_held -= record.bytes.size();
    return record;
}

std::string RpcRecordStream::Frame(std::string_view record)
{
    const auto size = static_cast<std::uint32_t>(record.size()) | 0x80000000u;
    std::string framed{static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                       static_cast<char>(size >> 8), static_cast<char>(size)};
    framed.append(record);
    return framed;
}
