// A client's message exchange with the instrument: how bytes become
// messages on each transport, and a message that waits for the sound
// holding its own client only.
#include <gtest/gtest.h>

#include <string>

#include "FakeTickSource.h"
#include "MessageExchange.h"
#include "SerialNumber.h"
#include "SilentWaveOut.h"
#include "SlowSwitchWaveOut.h"

namespace {

using Transport = MessageExchange::Transport;

TEST(MessageExchange, framing_eachTransportCutsMessagesAsIeee4882Says)
{
    const std::string tooLong(MessageExchange::kMostMessageBytes + 10, 'x');
    const struct {
        const char* what;
        Transport transport;
        std::string first;
        std::string second;  // fed after the first has run
        bool end;            // VXI-11's END with each
        const char* answer;
        const char* errors;
    } rows[] = {
        {"CR LF ends a line", Transport::RawSocket, "FREQ 700\r\nFREQ?\r\n", "", false,
         "7.0000000000E+02\n", "0"},
        {"a newline inside a block is data", Transport::RawSocket, "VOLT #15\nFREQ;FREQ?\n", "",
         false, "5.0000000000E+02\n", "-224"},
        {"a newline inside a string ends it", Transport::RawSocket, "FREQ \"7\n00\"\nFREQ?\n", "",
         false, "5.0000000000E+02\n", "-102,-102"},
        {"#0 ends at a socket's newline", Transport::RawSocket, "VOLT #0ab\nFREQ?\n", "", false,
         "5.0000000000E+02\n", "-224"},
        {"#0 ends only at END", Transport::Vxi11, "VOLT #0a\nFREQ?\n", "", true, "", "-224"},
        {"END ends a message", Transport::Vxi11, "FREQ 800", "FREQ?", true, "8.0000000000E+02\n",
         "0"},
        {"a raw client reads every answer", Transport::RawSocket, "FREQ?\n", "FUNC?\n", false,
         "5.0000000000E+02\nSIN\n", "0"},
        {"an answer unread is discarded", Transport::Vxi11, "FREQ?\n", "FUNC?\n", false, "SIN\n",
         "-410"},
        {"#H, #Q and #B numbers", Transport::RawSocket, "FREQ #H3E8;FREQ?\n", "", false,
         "1.0000000000E+03\n", "0"},
        {"too long a message", Transport::RawSocket, tooLong + "\nFREQ?\n", "", false,
         "5.0000000000E+02\n", "-223"},
    };
    for (const auto& row : rows) {
        SilentWaveOut device;
        FakeTickSource ticks;
        ScpiInstrument instrument(device, ticks);
        MessageExchange exchange(instrument, row.transport);
        exchange.Feed(row.first, row.end);
        exchange.Run();
        exchange.Feed(row.second, row.end);
        exchange.Run();
        EXPECT_EQ(exchange.Answer(), row.answer) << row.what;
        EXPECT_EQ(instrument.Execute("SYST:ERR:CODE:ALL?"), row.errors) << row.what;
    }
}

TEST(MessageExchange, wait_holdsItsOwnClientOnlyUntilTheSoundIsAtTheDevice)
{
    SlowSwitchWaveOut device;
    FakeTickSource ticks;
    ScpiInstrument instrument(device, ticks);
    MessageExchange waiting(instrument, Transport::RawSocket);
    MessageExchange other(instrument, Transport::RawSocket);
    waiting.Feed("OUTP ON\nFREQ 1000;*WAI;FREQ?\nFUNC?\n");
    waiting.Run();
    ASSERT_TRUE(waiting.Waiting());
    EXPECT_EQ(waiting.Answer(), "");
    // Another client is served meanwhile, and sees the setting made.
    other.Feed("FREQ?;*STB?\n");
    other.Run();
    EXPECT_EQ(other.Answer(), "1.0000000000E+03;0\n");
    EXPECT_FALSE(waiting.Run());
    device.Deliver();
    EXPECT_TRUE(waiting.Run());
    EXPECT_EQ(waiting.Answer(), "1.0000000000E+03\nSIN\n");
    // A device clear gives up a waiting message and what came after it.
    waiting.Consume(waiting.Answer().size());
    waiting.Feed("FREQ 2000;*OPC?\nFUNC?\n");
    waiting.Run();
    ASSERT_TRUE(waiting.Waiting());
    waiting.Clear();
    device.Deliver();
    waiting.Run();
    EXPECT_EQ(waiting.Answer(), "");
    EXPECT_FALSE(waiting.Busy());
}

TEST(SerialNumber, isAOneWayHashOfTheMachineId)
{
    EXPECT_EQ(SerialNumber::Sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(SerialNumber::Sha256Hex(std::string(1000, 'a')),
              "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
    const std::string serial = SerialNumber::FromMachineId("0123456789abcdef0123456789abcdef\n");
    EXPECT_EQ(serial, SerialNumber::FromMachineId("0123456789abcdef0123456789abcdef"));
    EXPECT_NE(serial, SerialNumber::FromMachineId("0123456789abcdef0123456789abcdee"));
    EXPECT_EQ(serial.size(), 12u);
    EXPECT_TRUE(SerialNumber::Acceptable(serial));
    EXPECT_FALSE(SerialNumber::Acceptable("two words"));
    EXPECT_FALSE(SerialNumber::Acceptable("a,b"));
    EXPECT_FALSE(SerialNumber::Acceptable(std::string(33, 'A')));
}

}  // namespace
