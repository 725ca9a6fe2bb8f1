// Feeds arbitrary bytes to the SCPI instrument (on a silent output) and
// checks what must always hold: its input and answers stay bounded, the error queue
// stays within its size, and a channel is on only while something plays.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "FakeTickSource.h"
#include "MessageExchange.h"
#include "ScpiInstrument.h"
#include "SilentWaveOut.h"

namespace {

// The instrument's device: counts the outputs open and playing on it.
class CountingWaveOut : public SilentWaveOut {
public:
    int Open(WaveOutHandle* handle, const WaveFormatEx& format) override
    {
        const int result = SilentWaveOut::Open(handle, format);
        m_open += result == MMSYSERR_NOERROR ? 1 : 0;
        return result;
    }
    int Write(WaveOutHandle handle, WaveHeader* header) override
    {
        ++m_playing;
        return SilentWaveOut::Write(handle, header);
    }
    int Reset(WaveOutHandle handle) override
    {
        m_playing = 0;
        return SilentWaveOut::Reset(handle);
    }
    int Close(WaveOutHandle handle) override
    {
        --m_open;
        return SilentWaveOut::Close(handle);
    }

    int m_open = 0;
    int m_playing = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CountingWaveOut device;
    static FakeTickSource ticks;
    static ScpiInstrument instrument(device, ticks);
    instrument.Execute("*RST;*CLS");
    // As a raw client sends it: messages cut at newlines outside strings
    // and blocks, a definite block read by its length.
    MessageExchange exchange(instrument, MessageExchange::Transport::RawSocket);
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        exchange.Feed(input.substr(0, end == std::string_view::npos ? input.size() : end + 1));
        while (exchange.Busy()) {
            exchange.Run();
            // (answers stop running messages at their bound: beyond it, at
            // most one message's, a few dozen bytes an input byte)
            if (exchange.Answer().size() > MessageExchange::kMostAnswerBytes + 64 * size) {
                std::abort();
            }
            exchange.Consume(exchange.Answer().size());
        }
        if (!exchange.Accepting()) {
            std::abort();
        }
        // A channel on exactly while the one device plays (both channels
        // share it); never two devices.
        const bool on = instrument.Execute("OUTP1?;:OUTP2?") != "0;0";
        if (device.m_open > 1 || on != (device.m_open == 1 && device.m_playing == 1)) {
            std::abort();
        }
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
    const std::string count = instrument.Execute("SYST:ERR:COUN?");
    if (std::atoi(count.c_str()) > static_cast<int>(ScpiInstrument::kErrorQueueSize)) {
        std::abort();
    }
    // An error's text at most 255 characters: "-NNN," and the quotes besides.
    if (instrument.Execute("SYST:ERR?").size() > ScpiInstrument::kMostErrorText + 7) {
        std::abort();
    }
    // The status byte is a byte, and its master summary follows *SRE.
    const int status = std::atoi(instrument.Execute("*STB?").c_str());
    const int enabled = std::atoi(instrument.Execute("*SRE?").c_str());
    if (status < 0 || status > 255 || ((status & 64) != 0) != ((status & enabled & ~64) != 0)) {
        std::abort();
    }
    return 0;
}
