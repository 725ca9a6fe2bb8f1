#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "ScpiInstrument.h"

// One client's message exchange with the instrument, as IEEE 488.2 has it:
// the bytes it sends cut into program messages (a block's bytes are data,
// whatever they hold), the messages run in turn (one that waits for the
// sound holds this client only), and their answers kept for it.
//
// Two transports, two kinds of END: on a raw socket a newline ends every
// message (an indefinite block too) and answers are sent as they come; on
// VXI-11 the END flag ends a message too, an indefinite block ends only
// there, and an answer waits to be read: a message that finds one unread
// discards it (-410).
class MessageExchange {
public:
    enum class Transport { RawSocket, Vxi11 };
    // The longest message kept; the rest of a longer one is dropped (-223).
    static constexpr std::size_t kMostMessageBytes = 65536;
    // Input kept unrun beyond which a transport stops taking more.
    static constexpr std::size_t kMostQueuedBytes = 2 * kMostMessageBytes;
    // Answers not taken beyond which no further message runs until they are.
    static constexpr std::size_t kMostAnswerBytes = 65536;

    MessageExchange(ScpiInstrument& instrument, Transport transport);

    // Takes bytes of input; `end`: the END flag came with the last.
    void Feed(std::string_view bytes, bool end = false);
    // Runs what can run now: the waiting message when its wait is over,
    // then the next ones while the answers not taken are within bounds.
    // True when anything ran.
    bool Run();
    // Whether input can be taken now (its unrun messages and its answers
    // not taken within bounds).
    bool Accepting() const
    {
        return m_queuedBytes < kMostQueuedBytes && m_answer.size() < kMostAnswerBytes;
    }
    // A message waits for the sound (or others wait behind one).
    bool Busy() const { return m_session.Waiting() || !m_messages.empty(); }
    bool Waiting() const { return m_session.Waiting(); }

    // The answers not yet taken (raw: every line, each ended by a newline;
    // VXI-11: the one message's answer, its newline included).
    const std::string& Answer() const { return m_answer; }
    bool HasAnswer() const { return !m_answer.empty(); }
    void Consume(std::size_t bytes) { m_answer.erase(0, bytes); }
    // A read with nothing to read and nothing coming: -420.
    void ReadNothing() { m_instrument.QueryUnterminated(); }
    // A device clear: unrun input, a waiting message and unread answers go.
    void Clear();

private:
    enum class Scan { Text, Quoted, Hash, BlockDigits, Block, Indefinite };
    struct Message {
        std::string text;
        bool tooLong = false;
    };

    void Take(char c);
    void Append(char c);
    void EndMessage();
    void Deliver(std::string response);

    ScpiInstrument& m_instrument;
    const Transport m_transport;
    ScpiSession m_session;
    // The message being read, and where in it the scan is.
    Message m_current;
    Scan m_scan = Scan::Text;
    char m_quote = 0;
    std::size_t m_count = 0;  // length digits, or block bytes, left
    std::size_t m_length = 0;
    std::deque<Message> m_messages;  // ended, not yet run
    std::size_t m_queuedBytes = 0;
    std::string m_answer;
};
