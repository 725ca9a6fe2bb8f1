#include "RenderOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: wavegen-render [-w N] [-f TEXT] [-o FILE] [--raw] [-n N] [-p [SECONDS]] [-D PCM]\n"
    "       wavegen-render -L | -V | -h\n";

constexpr const char* kWaveformNames[] = {"sine",  "triangle",   "square", "pulse",
                                          "noise", "held-noise", "sweep"};

constexpr unsigned kMostRepeats = 1000000;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A list position, or a waveform's name in any case. Positions outside
// 0..6 pass unchanged: the synthesis refuses them as it would a list position.
std::string ParseWaveform(const std::string& text, int& waveform)
{
    const std::string name = Lower(text);
    for (int i = 0; i < 7; ++i) {
        if (name == kWaveformNames[i]) {
            waveform = i;
            return {};
        }
    }
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, waveform);
    if (text.empty() || error != std::errc() || stop != end) {
        return "--waveform: not a list position 0 to 6 or a waveform name: " + text;
    }
    return {};
}

std::string ParseRepeat(const std::string& text, unsigned& repeat)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, repeat);
    if (text.empty() || error != std::errc() || stop != end || repeat < 1 ||
        repeat > kMostRepeats) {
        return "--repeat: N must be a whole number from 1 to 1000000: " + text;
    }
    return {};
}

std::string ParsePlay(const std::string& text, double& seconds)
{
    if (text.empty()) {
        seconds = -1.0;
        return {};
    }
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (error != std::errc() || stop != end || !(seconds >= 0.0) || std::isinf(seconds)) {
        return "--play: SECONDS must be a number, 0 or more (leave it out to play until "
               "stopped): " +
               text;
    }
    return {};
}

// The frequency is any text, also an empty one or one that starts with a
// minus sign, which an option parser would take for an option or refuse:
// take it out of the arguments here. The waveform may start with a minus
// sign too: glue it to its option.
std::vector<std::string> PrepareArguments(int argc, char** argv, std::string& frequency)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasNext = i + 1 < argc;
        if ((argument == "--frequency" || argument == "-f") && hasNext) {
            frequency = argv[++i];
        } else if (argument.rfind("--frequency=", 0) == 0) {
            frequency = argument.substr(12);
        } else if (argument.rfind("-f", 0) == 0 && argument.size() > 2) {
            frequency = argument.substr(2);
        } else if ((argument == "--waveform" || argument == "-w") && hasNext) {
            arguments.push_back("--waveform=" + std::string(argv[++i]));
        } else {
            arguments.push_back(argument);
        }
    }
    return arguments;
}

}  // namespace

int UsageError(const std::string& reason)
{
    std::fprintf(stderr, "wavegen-render: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

int ParseRenderOptions(int argc, char** argv, RenderOptions& options)
{
    CLI::App app{
        "Performs the generator's Start command on the command line: computes the looping "
        "buffer of a waveform and frequency, then writes it to a file or plays it.",
        "wavegen-render"};
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag("-V,--version", "wavegen-render " WAVEGEN_VERSION,
                         "print the program's name and version and exit");
    std::string waveform = "0";
    std::string repeat = "1";
    std::string play;
    app.add_option("-w,--waveform", waveform,
                   "the waveform: a list position 0 to 6, or sine, triangle, square, pulse, "
                   "noise, held-noise or sweep in any case (default sine)")
        ->option_text("N");
    app.add_option("-f,--frequency", options.frequency,
                   "the text typed into the frequency box, in hertz, read with a decimal "
                   "point (default 500.000)")
        ->option_text("TEXT");
    app.add_option("-o,--output", options.output,
                   "write the loop buffer to FILE as a 16-bit mono 48000 Hz WAV file; - is "
                   "standard output")
        ->option_text("FILE");
    app.add_flag("--raw", options.raw, "write bare little-endian signed 16-bit samples instead");
    app.add_option("-n,--repeat", repeat,
                   "write the loop buffer N times in a row, 1 to 1000000 (default 1)")
        ->option_text("N");
    app.add_option("-p,--play", play,
                   "play the loop for SECONDS, or until interrupted when SECONDS is left out")
        ->expected(0, 1)
        ->option_text("[SECONDS]");
    app.add_option("-D,--device", options.device,
                   "play on the ALSA PCM named PCM (default \"default\")")
        ->option_text("PCM");
    app.add_flag("-L,--list-devices", options.listDevices,
                 "list the playback PCMs with their descriptions and exit");

    std::vector<std::string> arguments = PrepareArguments(argc, argv, options.frequency);
    std::reverse(arguments.begin(), arguments.end());
    try {
        app.parse(arguments);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::puts("wavegen-render " WAVEGEN_VERSION);
        return 0;
    } catch (const CLI::ParseError& error) {
        return UsageError(error.what());
    }
    options.play = app.count("--play") > 0;
    for (const std::string& reason :
         {ParseWaveform(waveform, options.waveform), ParseRepeat(repeat, options.repeat),
          options.play ? ParsePlay(play, options.playSeconds) : std::string()}) {
        if (!reason.empty()) {
            return UsageError(reason);
        }
    }
    return -1;
}
