// Feeds arbitrary lines to the SCPI instrument (on a silent output) and
// checks what must always hold: every answer is one line, the error queue
// stays within its size, and the output is on only while something plays.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "FakeTickSource.h"
#include "ScpiInstrument.h"
#include "SilentWaveOut.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static SilentWaveOut device;
    static FakeTickSource ticks;
    static ScpiInstrument instrument(device, ticks);
    instrument.Execute("*RST;*CLS");
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        const std::string answer = instrument.Execute(input.substr(0, end));
        if (answer.find('\n') != std::string::npos) {
            std::abort();
        }
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
    const std::string count = instrument.Execute("SYST:ERR:COUN?");
    if (std::atoi(count.c_str()) > static_cast<int>(ScpiInstrument::kErrorQueueSize)) {
        std::abort();
    }
    return 0;
}
