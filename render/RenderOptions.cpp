#include "RenderOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: wavegen-render [--waveform N] [--frequency TEXT] [--output FILE] [--raw] "
    "[--repeat N] [--play SECONDS]\n";

constexpr const char* kWaveformNames[] = {"sine",  "triangle",   "square", "pulse",
                                          "noise", "held-noise", "sweep"};

// A list position, or a waveform's name. Positions outside 0..6 pass
// unchanged: the synthesis refuses them as it would a list position.
std::string ParseWaveform(const std::string& text, int& waveform)
{
    for (int i = 0; i < 7; ++i) {
        if (text == kWaveformNames[i]) {
            waveform = i;
            return {};
        }
    }
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, waveform);
    if (text.empty() || error != std::errc() || stop != end) {
        return "--waveform: not a list position or a waveform name: " + text;
    }
    return {};
}

// The frequency is any text, also an empty one or one that starts with a
// minus sign, which an option parser would take for an option or refuse:
// take it out of the arguments here. The waveform may start with a minus
// sign too: glue it to its option.
std::vector<std::string> PrepareArguments(int argc, char** argv, std::string& frequency)
{
    const std::string frequencyEquals = "--frequency=";
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--frequency" && i + 1 < argc) {
            frequency = argv[++i];
        } else if (argument.compare(0, frequencyEquals.size(), frequencyEquals) == 0) {
            frequency = argument.substr(frequencyEquals.size());
        } else if (argument == "--waveform" && i + 1 < argc) {
            arguments.push_back(argument + "=" + argv[++i]);
        } else {
            arguments.push_back(argument);
        }
    }
    return arguments;
}

int UsageError(const std::string& reason)
{
    std::fprintf(stderr, "wavegen-render: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

}  // namespace

int ParseRenderOptions(int argc, char** argv, RenderOptions& options)
{
    CLI::App app{
        "Performs the generator's Start command on the command line: computes the "
        "looping buffer of a waveform and frequency, then writes it to a file or "
        "plays it on the default audio output.",
        "wavegen-render"};
    std::string waveform = "0";
    app.add_option("--waveform", waveform,
                   "list position 0..6, or sine, triangle, square, pulse, noise, held-noise, "
                   "sweep (default 0)");
    app.add_option("--frequency", options.frequency,
                   "the text typed into the frequency box (default \"500.000\")");
    app.add_option(
        "--output", options.output,
        "write the loop buffer to FILE as a 16-bit mono 48000 Hz WAV file; - for stdout");
    app.add_flag("--raw", options.raw, "write bare little-endian signed 16-bit samples instead");
    app.add_option("--repeat", options.repeat, "write the loop buffer N times in a row (default 1)")
        ->check(CLI::Range(1u, 1000000u));
    app.add_option("--play", options.playSeconds,
                   "play the loop on the default audio output for SECONDS, then stop")
        ->check(CLI::NonNegativeNumber);

    std::vector<std::string> arguments = PrepareArguments(argc, argv, options.frequency);
    std::reverse(arguments.begin(), arguments.end());
    try {
        app.parse(arguments);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& error) {
        return UsageError(error.what());
    }
    if (const std::string reason = ParseWaveform(waveform, options.waveform); !reason.empty()) {
        return UsageError(reason);
    }
    return -1;
}
