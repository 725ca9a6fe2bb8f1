#include "MessageExchange.h"

#include <cctype>
#include <utility>

namespace {

bool IsDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

MessageExchange::MessageExchange(ScpiInstrument& instrument, Transport transport)
    : m_instrument(instrument), m_transport(transport)
{
}

void MessageExchange::Feed(std::string_view bytes, bool end)
{
    for (const char c : bytes) {
        Take(c);
    }
    if (end && m_transport == Transport::Vxi11) {
        EndMessage();
    }
}

// One byte through the scan: a newline outside strings and blocks ends the
// message; "#<n><n digits>" starts a block of that many bytes, "#0" one
// that runs to the END.
void MessageExchange::Take(char c)
{
    switch (m_scan) {
    case Scan::Text:
        if (c == '\n') {
            EndMessage();
            return;
        }
        if (c == '"' || c == '\'') {
            m_scan = Scan::Quoted;
            m_quote = c;
        } else if (c == '#') {
            m_scan = Scan::Hash;
        }
        break;
    case Scan::Quoted:
        if (c == '\n') {
            EndMessage();  // (a string left open: the parser says so)
            return;
        }
        m_scan = c == m_quote ? Scan::Text : Scan::Quoted;
        break;
    case Scan::Hash:
        if (c == '0') {
            m_scan = Scan::Indefinite;
        } else if (IsDigit(c)) {
            m_scan = Scan::BlockDigits;
            m_count = static_cast<std::size_t>(c - '0');
            m_length = 0;
        } else {
            m_scan = Scan::Text;  // #H3E8 and the like: a number
            Take(c);
            return;
        }
        break;
    case Scan::BlockDigits:
        if (!IsDigit(c)) {
            m_scan = Scan::Text;  // a header cut short: the parser says so
            Take(c);
            return;
        }
        // (a length beyond any message is still counted out, capped)
        m_length = std::min<std::size_t>(m_length * 10 + static_cast<std::size_t>(c - '0'),
                                         std::size_t{1} << 40);
        if (--m_count == 0) {
            m_count = m_length;
            m_scan = m_length == 0 ? Scan::Text : Scan::Block;
        }
        break;
    case Scan::Block:
        if (--m_count == 0) {
            m_scan = Scan::Text;
        }
        break;
    case Scan::Indefinite:
        if (c == '\n' && m_transport == Transport::RawSocket) {
            EndMessage();  // (a socket has no END but its newline)
            return;
        }
        break;
    }
    Append(c);
}

void MessageExchange::Append(char c)
{
    if (m_current.text.size() < kMostMessageBytes) {
        m_current.text += c;
    } else {
        m_current.tooLong = true;
    }
}

void MessageExchange::EndMessage()
{
    if (m_scan == Scan::Text && !m_current.text.empty() && m_current.text.back() == '\r') {
        m_current.text.pop_back();
    }
    m_scan = Scan::Text;
    if (m_current.text.find_first_not_of(" \t\r") == std::string::npos && !m_current.tooLong) {
        m_current = {};
        return;  // an empty message says nothing
    }
    m_queuedBytes += m_current.text.size();
    m_messages.push_back(std::move(m_current));
    m_current = {};
}

bool MessageExchange::Run()
{
    bool ran = false;
    std::string response;
    if (m_session.Waiting()) {
        if (!m_instrument.CanContinue(m_session)) {
            return false;
        }
        ran = true;
        if (!m_instrument.Continue(m_session, response)) {
            return true;
        }
        Deliver(std::move(response));
    }
    while (!m_messages.empty() && m_answer.size() < kMostAnswerBytes) {
        Message message = std::move(m_messages.front());
        m_messages.pop_front();
        m_queuedBytes -= message.text.size();
        ran = true;
        if (m_transport == Transport::Vxi11 && HasAnswer()) {
            m_answer.clear();  // a new message with an answer unread
            m_instrument.QueryInterrupted();
        }
        if (message.tooLong) {
            m_instrument.TooLong();
            continue;
        }
        if (!m_instrument.Begin(message.text, m_session, response)) {
            return true;  // it waits; what comes after it waits too
        }
        Deliver(std::move(response));
    }
    return ran;
}

void MessageExchange::Deliver(std::string response)
{
    if (!response.empty()) {
        m_answer += response;
        m_answer += '\n';
    }
}

void MessageExchange::Clear()
{
    m_session.Abandon();
    m_current = {};
    m_scan = Scan::Text;
    m_messages.clear();
    m_queuedBytes = 0;
    m_answer.clear();
}
