#include "RenderOptions.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "WaveformNames.h"
#include "WaveformSynthesis.h"

namespace {

constexpr const char* kUsage =
    "Usage: wavegen-render [-w NAME] [-f TEXT] [--level LEVEL] [--centred-noise]\n"
    "                      [SHAPE OPTIONS] [-o FILE [--raw] [-n N] [--ch2 OPTIONS]]\n"
    "                      [-p [SECONDS] [-D PCM]]\n"
    "       wavegen-render -L | -V | -h\n";

// Wrapped at 80 columns.
constexpr const char* kHelp =
    "Performs the generator's Start command on the command line: computes the\n"
    "looping buffer of a waveform and frequency, then writes it to a file, plays\n"
    "it, or both (the file first).\n"
    "\n"
    "  -w, --waveform NAME   sine, triangle, square, pulse, noise, held-noise or\n"
    "                        sweep in any case, or the number of one in that\n"
    "                        order counted from 0, so 1 is the triangle (the\n"
    "                        window's list counts from 1); default sine\n"
    "  -f, --frequency TEXT  the text typed into the frequency box, in hertz, read\n"
    "                        with a decimal point (default 500.000)\n"
    "      --level LEVEL     the level below full scale: a share from 0 to 1\n"
    "                        (0.5) or decibels (-6dB); default 1, every sample\n"
    "                        as the window plays it\n"
    "      --centred-noise   the noises centred on zero, as the instrument plays\n"
    "                        them (default: from 0 up, as the window plays them)\n"
    "\n"
    "Shape options, the instrument's settings beyond the window's (the samples\n"
    "equal what wavegen-scpi plays with the same settings):\n"
    "  -w ramp, -w arb       the ramp, and an arbitrary waveform (with --arb)\n"
    "      --symmetry PCT    ramp: percent of the period it rises (default 100)\n"
    "      --duty PCT        square: percent of the period it is high (default 50)\n"
    "      --width SECONDS   pulse: its width between the half-height points\n"
    "                        (default a hundredth of the period)\n"
    "      --edge SECONDS    pulse: each edge's time (default one sample, a step)\n"
    "      --phase DEG       the phase against the start, -360 to 360 (default 0)\n"
    "      --invert          the other polarity\n"
    "      --burst N|inf     bursts of N cycles (inf: endless, with --triggered)\n"
    "      --burst-period S  seconds from one burst to the next (default 0.01)\n"
    "      --burst-phase DEG the phase each burst starts at (default 0)\n"
    "      --sweep START:STOP  sweep from START to STOP hertz, again and again\n"
    "      --sweep-time S    seconds one sweep takes (default 1)\n"
    "      --log-sweep       equal ratios in equal times (default: linear)\n"
    "      --triggered       one triggered burst or sweep, then the 0.1 s of\n"
    "                        silence it loops until the next trigger\n"
    "      --arb FILE        one period of points from -1 to 1, one a line,\n"
    "                        joined by straight lines; a FILE whose name ends in\n"
    "                        .raw holds 16-bit little-endian codes (32767 is 1)\n"
    "      --ch2 OPTIONS     with -o: a two-channel file, the options above for\n"
    "                        the left channel and OPTIONS (one argument, such as\n"
    "                        \"-w sine -f 1000 --phase 90\") for the right\n"
    "\n"
    "  -o, --output FILE     write a 16-bit mono 48000 Hz WAV file; - is standard\n"
    "                        output\n"
    "      --raw             with -o: bare little-endian signed 16-bit samples\n"
    "  -n, --repeat N        with -o: the buffer N times in a row (default 1)\n"
    "  -p, --play [SECONDS]  play the loop for SECONDS, or until interrupted\n"
    "  -D, --device PCM      with -p: the ALSA PCM to play on (default \"default\")\n"
    "  -L, --list-devices    list the playback PCMs and exit\n"
    "  -V, --version         print the version and exit\n"
    "  -h, --help            print this help and exit\n"
    "  --                    ends the options\n"
    "\n"
    "Exit status: 0 done as asked; 1 ended early (illegal frequency, a refusal,\n"
    "a device that cannot be opened or was lost); 2 usage error; 3 the output\n"
    "could not be written; 128+N ended by signal N (SIGINT or SIGTERM ending an\n"
    "endless -p is the normal end, 0; a reader that closes the pipe ends the\n"
    "tool quietly, 141, as it does cat).\n"
    "\n"
    "Examples:\n"
    "  wavegen-render -w square -f 1000 -o square.wav\n"
    "  wavegen-render -w sweep -f 100 -o - --raw | sox -t raw -r 48000 -e signed \\\n"
    "      -b 16 -c 1 - sweep.flac\n";

constexpr unsigned kMostRepeats = 1000000;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string NameList()
{
    std::string list;
    for (const WaveformName& waveform : kWaveformNames) {
        list += (list.empty() ? "" : ", ") + std::string(waveform.commandLine);
    }
    return list;
}

// A list position or a waveform's name in any case; the instrument's
// ramp and arbitrary waveform by name.
std::string ParseWaveform(const std::string& text, int& waveform)
{
    const std::string name = Lower(text);
    if (name == "ramp" || name == "arb") {
        waveform = name == "ramp" ? Waveform::kRamp : Waveform::kArbitrary;
        return {};
    }
    for (int i = 0; i < kWaveformCount; ++i) {
        if (name == kWaveformNames[i].commandLine) {
            waveform = i;
            return {};
        }
    }
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, waveform);
    if (text.empty() || error != std::errc() || stop != end || waveform < 0 ||
        waveform >= kWaveformCount) {
        return "-w/--waveform: not a position 0 to " + std::to_string(kWaveformCount - 1) +
               " or one of " + NameList() + ", ramp, arb: " + text;
    }
    return {};
}

std::string ParseRepeat(const std::string& text, unsigned& repeat)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, repeat);
    if (text.empty() || error != std::errc() || stop != end || repeat < 1 ||
        repeat > kMostRepeats) {
        return "-n/--repeat: N must be a whole number from 1 to 1000000: " + text;
    }
    return {};
}

std::string ParsePlay(const std::string& text, double& seconds)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (text.empty() || error != std::errc() || stop != end || !(seconds >= 0.0) ||
        std::isinf(seconds)) {
        return "-p/--play: SECONDS must be a number, 0 or more (leave it out to play until "
               "stopped): " +
               text;
    }
    return {};
}

bool LooksLikeSeconds(const char* text)
{
    return text != nullptr && (std::isdigit(static_cast<unsigned char>(text[0])) != 0 ||
                               (text[0] == '.' && text[1] != '\0'));
}

enum : int {
    kRaw = 1000,
    kLevel,
    kCentredNoise,
    kSymmetry,
    kDuty,
    kWidth,
    kEdge,
    kPhase,
    kInvert,
    kBurst,
    kBurstPeriod,
    kBurstPhase,
    kSweep,
    kSweepTime,
    kLogSweep,
    kTriggered,
    kArbitraryFile,
    kSecondChannel,
};

// A number in the C locale's notation, from `least` to `most`.
std::string ParseBetween(const char* name, const std::string& text, double least, double most,
                         double& value)
{
    const char* end = text.data() + text.size();
    double number = 0.0;
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (text.empty() || error != std::errc() || stop != end || !(number >= least) ||
        !(number <= most)) {
        char range[96];
        std::snprintf(range, sizeof range, "a number from %g to %g", least, most);
        return std::string(name) + ": not " + range + ": " + text;
    }
    value = number;
    return {};
}

constexpr double kMostSeconds = 1000.0;

// N cycles, or "inf" for a burst that plays on once triggered.
std::string ParseBurst(const std::string& text, ShapeSettings& shape)
{
    shape.burst = true;
    if (Lower(text) == "inf") {
        shape.burstCycles = 0;
        return {};
    }
    double cycles = 0.0;
    std::string reason = ParseBetween("--burst", text, 1.0, 100000.0, cycles);
    if (reason.empty() && cycles != std::trunc(cycles)) {
        reason = "--burst: not a whole number of cycles: " + text;
    }
    shape.burstCycles = static_cast<std::int32_t>(cycles);
    return reason;
}

// START:STOP in hertz.
std::string ParseSweep(const std::string& text, ShapeSettings& shape)
{
    const std::size_t colon = text.find(':');
    shape.sweep = true;
    if (colon == std::string::npos) {
        return "--sweep: not START:STOP in hertz: " + text;
    }
    std::string reason =
        ParseBetween("--sweep", text.substr(0, colon), 1e-3, 1e6, shape.sweepStart);
    return reason.empty()
               ? ParseBetween("--sweep", text.substr(colon + 1), 1e-3, 1e6, shape.sweepStop)
               : reason;
}

// The options of the instrument's settings; false for any other.
bool ParseShapeOption(int code, const char* value, RenderOptions& options, std::string& reason)
{
    ShapeSettings& shape = options.shape;
    switch (code) {
    case kSymmetry:
        reason = ParseBetween("--symmetry", value, 0.0, 100.0, shape.symmetry);
        return true;
    case kDuty:
        reason = ParseBetween("--duty", value, 1e-9, 100.0 - 1e-9, shape.dutyCycle);
        return true;
    case kWidth:
        reason = ParseBetween("--width", value, 1e-9, kMostSeconds, shape.pulseWidth);
        return true;
    case kEdge:
        reason = ParseBetween("--edge", value, 1e-9, kMostSeconds, shape.pulseEdge);
        return true;
    case kPhase:
        reason = ParseBetween("--phase", value, -360.0, 360.0, shape.phase);
        return true;
    case kInvert:
        shape.inverted = true;
        return true;
    case kBurst:
        reason = ParseBurst(value, shape);
        return true;
    case kBurstPeriod:
        reason = ParseBetween("--burst-period", value, 1e-3, kMostSeconds, shape.burstPeriod);
        return true;
    case kBurstPhase:
        reason = ParseBetween("--burst-phase", value, -360.0, 360.0, shape.burstPhase);
        return true;
    case kSweep:
        reason = ParseSweep(value, shape);
        return true;
    case kSweepTime:
        reason = ParseBetween("--sweep-time", value, 1e-3, kMostSeconds, shape.sweepTime);
        return true;
    case kLogSweep:
        shape.logSweep = true;
        return true;
    case kTriggered:
        shape.triggered = true;
        return true;
    case kArbitraryFile:
        options.arbitraryFile = value;
        return true;
    case kSecondChannel:
        options.secondChannel = value;
        return true;
    default:
        return false;
    }
}

// A share of full scale (0 < share <= 1), or decibels below it ("-6dB").
std::string ParseLevel(const std::string& text, double& level)
{
    const char* end = text.data() + text.size();
    double value = 0.0;
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    const std::string unit = Lower(std::string(stop, end));
    if (error == std::errc() && (unit == "db" || unit == "dbfs") && value <= 0.0) {
        value = std::pow(10.0, value / 20.0);
    } else if (error != std::errc() || !unit.empty()) {
        value = -1.0;
    }
    if (!(value > 0.0 && value <= 1.0)) {
        return "--level: LEVEL must be a share above 0 and at most 1, or decibels at most 0 "
               "(-6dB): " +
               text;
    }
    level = value;
    return {};
}

constexpr option kLongOptions[] = {
    {"waveform", required_argument, nullptr, 'w'},
    {"frequency", required_argument, nullptr, 'f'},
    {"output", required_argument, nullptr, 'o'},
    {"raw", no_argument, nullptr, kRaw},
    {"level", required_argument, nullptr, kLevel},
    {"centred-noise", no_argument, nullptr, kCentredNoise},
    {"symmetry", required_argument, nullptr, kSymmetry},
    {"duty", required_argument, nullptr, kDuty},
    {"width", required_argument, nullptr, kWidth},
    {"edge", required_argument, nullptr, kEdge},
    {"phase", required_argument, nullptr, kPhase},
    {"invert", no_argument, nullptr, kInvert},
    {"burst", required_argument, nullptr, kBurst},
    {"burst-period", required_argument, nullptr, kBurstPeriod},
    {"burst-phase", required_argument, nullptr, kBurstPhase},
    {"sweep", required_argument, nullptr, kSweep},
    {"sweep-time", required_argument, nullptr, kSweepTime},
    {"log-sweep", no_argument, nullptr, kLogSweep},
    {"triggered", no_argument, nullptr, kTriggered},
    {"arb", required_argument, nullptr, kArbitraryFile},
    {"ch2", required_argument, nullptr, kSecondChannel},
    {"repeat", required_argument, nullptr, 'n'},
    {"play", optional_argument, nullptr, 'p'},
    {"device", required_argument, nullptr, 'D'},
    {"list-devices", no_argument, nullptr, 'L'},
    {"version", no_argument, nullptr, 'V'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

std::string OptionName(int code)
{
    for (const option& o : kLongOptions) {
        if (o.val == code && o.name != nullptr) {
            return code < 256 ? std::string("-") + static_cast<char>(code) + "/--" + o.name
                              : std::string("--") + o.name;
        }
    }
    return "?";
}

// Combinations that would silently do nothing, or less than asked.
std::string CheckCombination(const RenderOptions& options, const std::map<int, int>& given)
{
    if (given.contains('o') && options.output.empty()) {
        return "-o/--output: the file name is empty";
    }
    for (const int needsOutput : {int{kRaw}, int{'n'}}) {
        if (given.contains(needsOutput) && !given.contains('o')) {
            return OptionName(needsOutput) + " shapes what -o writes; give -o FILE too";
        }
    }
    if (given.contains('D') && !options.play) {
        return "-D/--device names the PCM that -p plays on; give -p too";
    }
    for (const int needsBurst : {int{kBurstPeriod}, int{kBurstPhase}}) {
        if (given.contains(needsBurst) && !given.contains(kBurst)) {
            return OptionName(needsBurst) + " shapes a burst; give --burst N too";
        }
    }
    if ((given.contains(kSweepTime) || given.contains(kLogSweep)) && !given.contains(kSweep)) {
        return OptionName(given.contains(kSweepTime) ? kSweepTime : kLogSweep) +
               " shapes a sweep; give --sweep START:STOP too";
    }
    if (given.contains(kTriggered) && !given.contains(kBurst) && !given.contains(kSweep)) {
        return "--triggered fires a burst or a sweep; give --burst or --sweep too";
    }
    if (given.contains(kSecondChannel) && (options.output.empty() || options.play)) {
        return "--ch2 makes a two-channel file: give -o FILE, and play it with aplay";
    }
    if (given.contains(kArbitraryFile) != (options.waveform == kArbitrary)) {
        return given.contains(kArbitraryFile)
                   ? "--arb FILE gives the points of -w arb; give it too"
                   : "-w arb plays the points of --arb FILE; give it too";
    }
    return {};
}

}  // namespace

int UsageError(const std::string& reason)
{
    std::fprintf(stderr, "wavegen-render: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

int ParseRenderOptions(int argc, char** argv, RenderOptions& options)
{
    std::map<int, int> given;
    std::string reason;
    opterr = 0;
    optind = 1;
    int code;
    // "+": options end at the first operand or at "--", as POSIX has it.
    while (reason.empty() &&
           (code = getopt_long(argc, argv, "+:w:f:o:n:p::D:LVh", kLongOptions, nullptr)) != -1) {
        if (code == '?') {
            const std::string bad = optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                                                : std::string(argv[optind - 1]);
            return UsageError("unknown option " + bad);
        }
        if (code == ':') {
            return UsageError(OptionName(optopt) + " needs a value");
        }
        if (++given[code] > 1) {
            return UsageError(OptionName(code) + " given twice");
        }
        // "-p 3" as well as "-p3" and "--play=3".
        const char* value = optarg;
        if (code == 'p' && value == nullptr && optind < argc && LooksLikeSeconds(argv[optind])) {
            value = argv[optind++];
        }
        if (ParseShapeOption(code, value, options, reason)) {
            continue;
        }
        switch (code) {
        case 'w':
            reason = ParseWaveform(value, options.waveform);
            break;
        case 'f':
            options.frequency = value;
            break;
        case 'o':
            options.output = value;
            break;
        case kRaw:
            options.raw = true;
            break;
        case kLevel:
            reason = ParseLevel(value, options.level);
            break;
        case kCentredNoise:
            options.centredNoise = true;
            break;
        case 'n':
            reason = ParseRepeat(value, options.repeat);
            break;
        case 'p':
            options.play = true;
            options.playSeconds = -1.0;
            reason = value != nullptr ? ParsePlay(value, options.playSeconds) : std::string();
            break;
        case 'D':
            options.device = value;
            break;
        case 'L':
            options.listDevices = true;
            break;
        case 'V':
            options.printVersion = true;
            break;
        default:
            options.printHelp = true;
            break;
        }
    }
    if (reason.empty() && optind < argc) {
        reason = std::string("unexpected argument: ") + argv[optind];
    }
    if (reason.empty()) {
        reason = CheckCombination(options, given);
    }
    return reason.empty() ? -1 : UsageError(reason);
}

int ParseChannelOptions(const std::string& text, RenderOptions& options)
{
    std::vector<std::string> words = {"--ch2"};
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = text.find_first_not_of(' ', at);
        if (start == std::string::npos) {
            break;
        }
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    if (const int status = ParseRenderOptions(static_cast<int>(words.size()), argv.data(), options);
        status >= 0) {
        return status;
    }
    const RenderOptions plain;
    if (!options.output.empty() || options.raw || options.repeat != 1 || options.play ||
        options.device != plain.device || options.listDevices || options.printVersion ||
        options.printHelp || !options.secondChannel.empty()) {
        return UsageError(
            "--ch2 takes the right channel's waveform, frequency, level and shape "
            "options only: " +
            text);
    }
    return -1;
}

std::string RenderHelp()
{
    return std::string(kUsage) + "\n" + kHelp;
}
