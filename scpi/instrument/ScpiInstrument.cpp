#include "ScpiInstrument.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <thread>

#include "ArbitraryStore.h"
#include "NumberRules.h"
#include "WaveformNames.h"
#include "WaveformSynthesis.h"

namespace {

// The waveforms as SCPI names them, in list order (short form in capitals).
constexpr const char* kFunctions[] = {"SINusoid", "TRIangle", "SQUare", "PULSe",
                                      "NOISe",    "HNOise",   "SWEep"};
static_assert(std::size(kFunctions) == kWaveformCount);
// The functions beyond the window's list, and the one an AC-coupled output
// cannot give.
struct NamedFunction {
    const char* name;
    int waveform;
};
constexpr NamedFunction kMoreFunctions[] = {
    {"RAMP", kRamp}, {"ARBitrary", kArbitrary}, {"USER", kArbitrary}};

// Each waveform's peak-to-peak span as a share of full scale (the pulse
// runs from the bottom to 0, the noises over half the scale about 0), and
// its peak-to-peak over its AC RMS (the pulse is low a hundredth of the
// time; the noises are uniform, sqrt(12)).
constexpr double kSpan[] = {1.0, 1.0, 1.0, 0.5, 0.5, 0.5, 1.0};
const double kPeakToRms[] = {2 * std::sqrt(2.0), 2 * std::sqrt(3.0), 2.0, 10.0, 2 * std::sqrt(3.0),
                             2 * std::sqrt(3.0), 2 * std::sqrt(2.0)};
// The least amplitude, as a share of the most.
constexpr double kLeastLevel = 0.001;

constexpr double kLeastLoad = 1.0;
constexpr double kMostLoad = 10000.0;
constexpr double kDefaultLoad = 50.0;
constexpr double kInfinity = 9.9e37;  // SCPI's INFinity
constexpr double kMilliwatt = 1e-3;   // dBm's reference, watts

// The event status register's bits (IEEE 488.2).
constexpr int kOperationComplete = 1 << 0;
constexpr int kQueryError = 1 << 2;
constexpr int kDeviceError = 1 << 3;
constexpr int kExecutionError = 1 << 4;
constexpr int kCommandError = 1 << 5;
// The status byte's bits.
constexpr int kErrorAvailable = 1 << 2;
constexpr int kQuestionableSummary = 1 << 3;
constexpr int kMessageAvailable = 1 << 4;
constexpr int kEventSummary = 1 << 5;
constexpr int kMasterSummary = 1 << 6;
constexpr int kOperationSummary = 1 << 7;
// A register's value is 16 bits, of which the top one is always 0.
constexpr int kMostEnable = 65535;
constexpr int kRegisterBits = 32767;

std::string ShortForm(const char* mnemonic)
{
    std::string shortForm;
    for (const char* c = mnemonic; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z') {
            shortForm += *c;
        }
    }
    return shortForm;
}

// (Answers are made as whole strings, never assigned from a short literal:
// GCC 12 warns falsely about that at -O3, -Wrestrict.)

int EventBitOf(int code)
{
    if (code <= -400) {
        return kQueryError;
    }
    if (code <= -300 || code > 0) {
        return kDeviceError;
    }
    return code <= -200 ? kExecutionError : kCommandError;
}

bool Is(const std::string& text, const char* mnemonic)
{
    return MatchesMnemonic(text, mnemonic);
}

}  // namespace

// A header of the instrument's tree with what runs it: a setting, a query,
// or both; the pattern is read once.
struct ScpiInstrument::Header {
    std::vector<HeaderNode> pattern;
    std::function<bool(ScpiInstrument&, const ScpiCommand&)> set;
    std::function<bool(ScpiInstrument&, const ScpiCommand&, std::string&)> ask;
};

// A status register's event (read and cleared), condition, enable and
// transition filters.
void ScpiInstrument::AddRegisterHeaders(std::vector<Header>& table, const std::string& name,
                                        StatusRegister& (*reg)(ScpiInstrument&))
{
    using I = ScpiInstrument;
    using C = const ScpiCommand&;
    using A = std::string&;
    const auto number = [](A answer, int value) {
        answer = std::to_string(value);
        return true;
    };
    table.push_back({ParseHeaderPattern(name + "[:EVENt]"), nullptr, [=](I& i, C c, A a) {
                         const int event = reg(i).event;
                         reg(i).event = 0;
                         return i.m_read.TakesNone(c) && number(a, event);
                     }});
    table.push_back({ParseHeaderPattern(name + ":CONDition"), nullptr, [=](I& i, C c, A a) {
                         return i.m_read.TakesNone(c) && number(a, reg(i).condition);
                     }});
    for (const auto& entry : {std::pair{":ENABle", &StatusRegister::enable},
                              std::pair{":PTRansition", &StatusRegister::positive},
                              std::pair{":NTRansition", &StatusRegister::negative}}) {
        const auto [field, value] = entry;
        const auto mask = value;  // (a lambda may not capture a structured binding)
        table.push_back(
            {ParseHeaderPattern(name + field),
             [=](I& i, C c) { return i.SetEnable(c, reg(i).*mask); },
             [=](I& i, C c, A a) { return i.m_read.TakesNone(c) && number(a, reg(i).*mask); }});
    }
}

void ScpiInstrument::StatusRegister::Set(int bits, bool on)
{
    const int next = on ? condition | bits : condition & ~bits;
    event |= (next & ~condition & positive) | (condition & ~next & negative);
    condition = next;
}

const std::vector<ScpiInstrument::Header>& ScpiInstrument::Headers()
{
    using I = ScpiInstrument;
    using C = const ScpiCommand&;
    using A = std::string&;
    static const std::vector<Header> headers = [] {
        std::vector<Header> table = {
            {ParseHeaderPattern("[SOURce:]FUNCtion[:SHAPe]"),
             [](I& i, C c) { return i.SetFunction(c); },
             [](I& i, C c, A a) { return i.AskFunction(c, a); }},
            {ParseHeaderPattern("[SOURce:]FREQuency[:CW]"),
             [](I& i, C c) { return i.SetFrequency(c); },
             [](I& i, C c, A a) { return i.AskFrequency(c, a); }},
            {ParseHeaderPattern("[SOURce:]FREQuency:FIXed"),
             [](I& i, C c) { return i.SetFrequency(c); },
             [](I& i, C c, A a) { return i.AskFrequency(c, a); }},
            {ParseHeaderPattern("[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]"),
             [](I& i, C c) { return i.SetAmplitude(c); },
             [](I& i, C c, A a) { return i.AskAmplitude(c, a); }},
            {ParseHeaderPattern("[SOURce:]VOLTage[:LEVel][:IMMediate]:HIGH"),
             [](I& i, C c) { return i.SetLevel(c, Bound::High); },
             [](I& i, C c, A a) { return i.AskLevel(c, a, Bound::High); }},
            {ParseHeaderPattern("[SOURce:]VOLTage[:LEVel][:IMMediate]:LOW"),
             [](I& i, C c) { return i.SetLevel(c, Bound::Low); },
             [](I& i, C c, A a) { return i.AskLevel(c, a, Bound::Low); }},
            {ParseHeaderPattern("[SOURce:]VOLTage:UNIT"), [](I& i, C c) { return i.SetUnit(c); },
             [](I& i, C c, A a) { return i.AskUnit(c, a); }},
            {ParseHeaderPattern("[SOURce:]VOLTage[:LEVel][:IMMediate]:OFFSet"),
             [](I& i, C c) { return i.SetOffset(c); },
             [](I& i, C c, A a) { return i.AskOffset(c, a); }},
            {ParseHeaderPattern("[SOURce:]VOLTage:RANGe"), nullptr,
             [](I& i, C c, A a) { return i.AskRange(c, a); }},
            {ParseHeaderPattern("OUTPut[:STATe]"), [](I& i, C c) { return i.SetOutput(c); },
             [](I& i, C c, A a) { return i.AskOutput(c, a); }},
            {ParseHeaderPattern("OUTPut:LOAD"), [](I& i, C c) { return i.SetLoad(c); },
             [](I& i, C c, A a) { return i.AskLoad(c, a); }},
            {ParseHeaderPattern("[SOURce:]APPLy"), nullptr,
             [](I& i, C c, A a) { return i.AskApply(c, a); }},
            {ParseHeaderPattern("SYSTem:ERRor[:NEXT]"), nullptr,
             [](I& i, C c, A a) { return i.AskError(c, a, false); }},
            {ParseHeaderPattern("SYSTem:ERRor:COUNt"), nullptr,
             [](I& i, C c, A a) { return i.AskErrorCount(c, a); }},
            {ParseHeaderPattern("SYSTem:ERRor:ALL"), nullptr,
             [](I& i, C c, A a) { return i.AskAllErrors(c, a, false); }},
            {ParseHeaderPattern("SYSTem:ERRor:CODE[:NEXT]"), nullptr,
             [](I& i, C c, A a) { return i.AskError(c, a, true); }},
            {ParseHeaderPattern("SYSTem:ERRor:CODE:ALL"), nullptr,
             [](I& i, C c, A a) { return i.AskAllErrors(c, a, true); }},
            {ParseHeaderPattern("SYSTem:VERSion"), nullptr,
             [](I& i, C c, A a) { return i.AskVersion(c, a); }},
            {ParseHeaderPattern("STATus:PRESet"), [](I& i, C c) { return i.Preset(c); }, nullptr},
            {ParseHeaderPattern("[SOURce:]TRACk"), [](I& i, C c) { return i.SetTrack(c); },
             [](I& i, C c, A a) { return i.AskTrack(c, a); }},
            {ParseHeaderPattern("[SOURce:]FREQuency:COUPle[:STATe]"),
             [](I& i, C c) { return i.SetCoupling(c, i.m_frequencyCoupled); },
             [](I& i, C c, A a) { return i.AskCoupling(c, a, i.m_frequencyCoupled); }},
            {ParseHeaderPattern("[SOURce:]VOLTage:COUPle[:STATe]"),
             [](I& i, C c) { return i.SetCoupling(c, i.m_levelCoupled); },
             [](I& i, C c, A a) { return i.AskCoupling(c, a, i.m_levelCoupled); }},
            {ParseHeaderPattern("[SOURce:]FREQuency:COUPle:MODE"),
             [](I& i, C c) { return i.SetCouplingMode(c); },
             [](I& i, C c, A a) { return i.AskCouplingMode(c, a); }},
            {ParseHeaderPattern("[SOURce:]FREQuency:COUPle:RATio"),
             [](I& i, C c) { return i.SetCouplingValue(c, i.m_frequencyRatio, true); },
             [](I& i, C c, A a) { return i.AskCouplingValue(c, a, i.m_frequencyRatio, true); }},
            {ParseHeaderPattern("[SOURce:]FREQuency:COUPle:OFFSet"),
             [](I& i, C c) { return i.SetCouplingValue(c, i.m_frequencyOffset, false); },
             [](I& i, C c, A a) { return i.AskCouplingValue(c, a, i.m_frequencyOffset, false); }},
            {ParseHeaderPattern("[SOURce:]STATus"), nullptr,
             [](I& i, C c, A a) { return i.AskStatusLine(c, a); }},
        };
        // The SCPI status registers, each with the same five headers: the
        // instrument summary's (QUEStionable bit 13) has a bit for each
        // channel's own register (ISUMmary1 and 2, bit 9 the lost sound).
        AddRegisterHeaders(table, "STATus:OPERation",
                           [](I& i) -> StatusRegister& { return i.m_operation; });
        AddRegisterHeaders(table, "STATus:QUEStionable",
                           [](I& i) -> StatusRegister& { return i.m_questionable; });
        AddRegisterHeaders(table, "STATus:QUEStionable:INSTrument",
                           [](I& i) -> StatusRegister& { return i.m_instrumentSummary; });
        AddRegisterHeaders(table, "STATus:QUEStionable:INSTrument:ISUMmary",
                           [](I& i) -> StatusRegister& { return i.Ch().summary; });
        // APPLy:SINusoid and the rest, one header each.
        std::vector<const char*> names(std::begin(kFunctions), std::end(kFunctions));
        for (const NamedFunction& more : kMoreFunctions) {
            names.push_back(more.name);
        }
        for (const char* name : names) {
            table.push_back({ParseHeaderPattern(std::string("[SOURce:]APPLy:") + name),
                             [name](I& i, C c) { return i.Apply(c, name); }, nullptr});
        }
        return table;
    }();
    return headers;
}

ScpiInstrument::Channel::Channel(ScpiInstrument& instrument, int index, IWaveOut& output,
                                 ITickSource& ticks)
    : dialog(window, output, ticks),
      shapes(
          dialog, instrument.m_read, instrument.m_store,
          [&instrument](const GeneratorSettings& next) { return instrument.Change(next); },
          [&instrument](int code, const std::string& detail) { instrument.Queue(code, detail); },
          [&instrument] { return instrument.m_output.Synchronize(); }),
      amplitude(instrument.m_fullScale)
{
    window.m_onMessage = [&instrument, index](const char* text) {
        instrument.OnMessage(index, text);
    };
    window.m_onFailure = [&instrument](const char* line) { instrument.m_failure = line; };
    dialog.OnInitDialog();
    dialog.m_centredNoise = true;
}

ScpiInstrument::ScpiInstrument(IWaveOut& device, ITickSource& ticks, double fullScaleVpp,
                               std::string serial)
    : m_read([this](int code, const std::string& detail) { Queue(code, detail); }),
      m_fullScale(fullScaleVpp),
      m_serial(std::move(serial)),
      m_output(device)
{
    for (int index = 0; index < StereoWaveOut::kChannels; ++index) {
        m_channels[static_cast<std::size_t>(index)] =
            std::make_unique<Channel>(*this, index, m_output.Channel(index), ticks);
    }
}

ScpiInstrument::~ScpiInstrument()
{
    SwitchOff();
}

bool ScpiInstrument::Begin(std::string_view message, ScpiSession& session, std::string& response)
{
    session = {};
    session.parseError = ParseScpiLine(message, session.commands);
    return RunMessage(session, response);
}

bool ScpiInstrument::Continue(ScpiSession& session, std::string& response)
{
    return RunMessage(session, response);
}

std::string ScpiInstrument::Execute(std::string_view line, ScpiSession& session)
{
    std::string response;
    bool done = Begin(line, session, response);
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        done = Continue(session, response);
    }
    return response;
}

namespace {

// The commands that complete only once the sound is at the device.
bool Waits(const ScpiCommand& command)
{
    return command.common &&
           (command.nodes.front() == "OPC" || (command.nodes.front() == "WAI" && !command.query));
}

}  // namespace

// The sound of every setting so far is at the device: while the output is
// on, the device has written samples of the loop last handed to it (a few
// milliseconds), or it is lost.
bool ScpiInstrument::SoundAtDevice() const
{
    for (const auto& channel : m_channels) {
        if (!channel->on || channel->dialog.m_waveOut == nullptr) {
            continue;
        }
        const OutputStatus status = IWaveOut::Status(channel->dialog.m_waveOut);
        if (status.state == OutputState::Playing && status.loopWritten != status.loopsAsked) {
            return false;
        }
    }
    return true;
}

bool ScpiInstrument::CanContinue(const ScpiSession& session) const
{
    return !session.Waiting() || !Waits(session.commands[session.next]) || SoundAtDevice() ||
           (session.waitUntil && std::chrono::steady_clock::now() >= *session.waitUntil);
}

bool ScpiInstrument::RunMessage(ScpiSession& session, std::string& response)
{
    while (session.Waiting()) {
        const ScpiCommand& command = session.commands[session.next];
        if (!CanContinue(session)) {
            if (!session.waitUntil) {
                // (a triggered burst's *OPC waits for the whole burst)
                session.waitUntil = std::chrono::steady_clock::now() + kLongestWait +
                                    std::max(m_channels[0]->shapes.TriggeredLength(),
                                             m_channels[1]->shapes.TriggeredLength());
            }
            return false;
        }
        session.waitUntil.reset();
        if (command.query && session.indefinite) {
            // *IDN?'s answer may hold any character: nothing may follow it.
            Queue(scpi::kQueryAfterIndefinite);
            break;
        }
        std::string answer;
        m_commandError = false;
        const bool done = Run(command, session, answer);
        ++session.next;
        if (!command.query) {
            Couple();
        }
        if (m_commandError) {
            break;  // the rest of the message is not run after a command error
        }
        if (done && command.query) {
            session.response += (session.response.empty() ? "" : ";") + answer;
            session.indefinite = command.common && command.nodes.front() == "IDN";
        }
    }
    if (session.parseError != 0) {
        Queue(session.parseError);
    }
    response = std::move(session.response);
    session.Abandon();
    return true;
}

bool ScpiInstrument::Run(const ScpiCommand& command, ScpiSession& session, std::string& answer)
{
    m_current = 0;  // (a common command, or a header without a number: channel 1)
    if (command.common) {
        return RunCommon(command, answer);
    }
    // A command without a leading ":" continues the path of the one before;
    // failing that, it is read from the root.
    std::vector<std::string> typed = command.rooted ? std::vector<std::string>() : session.path;
    typed.insert(typed.end(), command.nodes.begin(), command.nodes.end());
    // (the instrument's own headers, then the shapes')
    struct Found {
        const Header* own = nullptr;
        const ShapeCommands::Header* shape = nullptr;
        bool Runs(bool query) const
        {
            return own != nullptr ? (query ? own->ask != nullptr : own->set != nullptr)
                                  : shape != nullptr &&
                                        (query ? shape->ask != nullptr : shape->set != nullptr);
        }
    };
    const auto find = [](const std::vector<std::string>& nodes) {
        std::vector<std::string> names;
        for (const std::string& node : nodes) {
            names.push_back(SplitSuffix(node).first);
        }
        Found found;
        for (const Header& header : Headers()) {
            if (MatchesHeader(names, header.pattern)) {
                found.own = &header;
                return found;
            }
        }
        found.shape = ShapeCommands::Find(names);
        return found;
    };
    Found header = find(typed);
    if (header.own == nullptr && header.shape == nullptr && !command.rooted &&
        !session.path.empty()) {
        typed = command.nodes;
        header = find(typed);
    }
    session.path.assign(typed.begin(), typed.end() - 1);
    if (!header.Runs(command.query)) {
        Queue(scpi::kUndefinedHeader);
        return false;
    }
    m_current = ChannelOf(typed);
    if (m_current < 0) {
        m_current = 0;
        return false;
    }
    if (header.shape != nullptr) {
        return command.query ? (Ch().shapes.*header.shape->ask)(command, answer)
                             : (Ch().shapes.*header.shape->set)(command);
    }
    return command.query ? header.own->ask(*this, command, answer)
                         : header.own->set(*this, command);
}

// Two outputs: a numbered node is channel 1 or 2 (SOURce2, OUTPut2); a
// header with no number is channel 1, as on bench generators.
int ScpiInstrument::ChannelOf(const std::vector<std::string>& typed)
{
    int channel = 0;
    for (const std::string& node : typed) {
        const long number = SplitSuffix(node).second;
        if (number < 1 || number > StereoWaveOut::kChannels) {
            Queue(scpi::kHeaderSuffixOutOfRange, node);
            return -1;
        }
        channel = number == 2 ? 1 : channel;
    }
    return channel;
}

bool ScpiInstrument::RunCommon(const ScpiCommand& command, std::string& answer)
{
    const std::string& name = command.nodes.front();
    const bool query = command.query;
    const bool takesValue = (name == "ESE" || name == "SRE") && !query;
    static const char* const kKnown[] = {"CLS", "ESE", "ESR", "IDN", "OPC", "OPT",
                                         "RST", "SRE", "STB", "TRG", "TST", "WAI"};
    if (std::none_of(std::begin(kKnown), std::end(kKnown),
                     [&](const char* known) { return name == known; })) {
        Queue(scpi::kUndefinedHeader, "*" + name);
        return false;
    }
    if (command.parameters.size() != (takesValue ? 1u : 0u)) {
        Queue(command.parameters.size() > (takesValue ? 1u : 0u) ? scpi::kParameterNotAllowed
                                                                 : scpi::kMissingParameter);
        return false;
    }
    if (query && name == "IDN") {
        answer = "wavegen,wavegen-scpi," + m_serial + "," WAVEGEN_VERSION;
    } else if (!query && name == "TRG") {
        // (the channel that waits for a bus trigger; channel 1 says why
        // when none does)
        const bool second = m_channels[1]->on && m_channels[1]->dialog.m_shape.triggered;
        m_channels[second ? 1 : 0]->shapes.Trigger();
    } else if (!query && name == "RST") {
        Reset();
    } else if (!query && name == "CLS") {
        m_errors.clear();
        m_eventStatus = 0;
        m_operation.event = 0;
        m_questionable.event = 0;
        m_instrumentSummary.event = 0;
        for (const auto& channel : m_channels) {
            channel->summary.event = 0;
        }
    } else if (name == "OPC") {
        // (run once the sound is at the device)
        m_eventStatus |= query ? 0 : kOperationComplete;
        answer = std::to_string(1);
    } else if (!query && name == "WAI") {
    } else if (query && name == "ESR") {
        answer = std::to_string(m_eventStatus);
        m_eventStatus = 0;
    } else if (name == "ESE" || name == "SRE") {
        int& enable = name == "ESE" ? m_eventEnable : m_serviceEnable;
        if (!query && !m_read.ReadInteger(command.parameters.front(), 255, enable)) {
            return false;
        }
        if (name == "SRE") {
            enable &= ~kMasterSummary;  // the standard: bit 6 cannot be enabled
        }
        answer = std::to_string(enable);
    } else if (query && name == "STB") {
        answer = std::to_string(StatusByte());
    } else if (query && name == "TST") {
        answer = std::to_string(0);
    } else if (query && name == "OPT") {
        answer = std::to_string(0);  // no options
    } else {
        Queue(scpi::kUndefinedHeader, "*" + name + (query ? "?" : ""));
        return false;
    }
    return true;
}

// A function by name: its waveform, or -1 when there is none.
int ScpiInstrument::FunctionNamed(const std::string& text)
{
    for (int row = 0; row < kWaveformCount; ++row) {
        if (Is(text, kFunctions[row])) {
            return row;
        }
    }
    for (const NamedFunction& more : kMoreFunctions) {
        if (Is(text, more.name)) {
            return more.waveform;
        }
    }
    return -1;
}

std::string ScpiInstrument::FunctionName() const
{
    switch (Ch().dialog.m_waveform) {
    case kRamp:
        return "RAMP";
    case kArbitrary:
        return Ch().userName ? "USER" : "ARB";
    default:
        return ShortForm(kFunctions[Ch().dialog.m_waveform]);
    }
}

bool ScpiInstrument::SetFunction(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    if (Is(command.parameters.front(), "DC")) {
        Queue(scpi::kSettingsConflict, "the output is AC-coupled: it gives no DC");
        return true;
    }
    if (const int row = FunctionNamed(command.parameters.front()); row >= 0) {
        if (row == kArbitrary) {
            Ch().userName = Is(command.parameters.front(), "USER");
        }
        if (row == Ch().dialog.m_waveform) {
            return true;  // the same again: nothing to do
        }
        // (Full scale stays full scale, whatever the function's span.)
        const double most = MostAmplitude(row);
        const bool atMost = Ch().amplitude == MostAmplitude(Ch().dialog.m_waveform);
        const bool reduced = !atMost && Ch().amplitude > most;
        const double vpp = atMost ? most : std::min(Ch().amplitude, most);
        GeneratorSettings next = Ch().dialog.Settings();
        next.waveform = row;
        next.level = LevelFor(vpp, row);
        if (!Change(next)) {
            return true;  // refused, its error queued: the message goes on
        }
        Ch().amplitude = vpp;
        if (reduced) {
            Queue(scpi::kSettingsConflict, "amplitude reduced to the most this function has");
        }
        return true;
    }
    Queue(scpi::kIllegalParameterValue, "unknown function " + command.parameters.front());
    return false;
}

bool ScpiInstrument::AskFunction(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = FunctionName();
    return true;
}

bool ScpiInstrument::SetFrequency(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    const std::string& text = command.parameters.front();
    double hertz = 0.0;
    if (Is(text, "MINimum") || Is(text, "MAXimum") || Is(text, "DEFault")) {
        hertz = Is(text, "MINimum")   ? Ch().dialog.m_minFrequency
                : Is(text, "MAXimum") ? Ch().shapes.MostFrequency()
                                      : kDefaultFrequency;
    } else if (const int error = ParseFrequency(text, hertz); error != 0) {
        Queue(error == scpi::kInvalidCharacterData ? scpi::kIllegalParameterValue : error,
              "not a frequency: " + text);
        return false;
    }
    // The box's own refusal, checked before anything changes: an illegal
    // value leaves the setting, and the sound, as they were.
    if (!(hertz > 0.0)) {
        Queue(scpi::kIllegalParameterValue, "not a frequency above 0 Hz: " + text);
        return false;
    }
    if (hertz == Ch().dialog.m_frequency) {
        return true;  // the same again: nothing to do
    }
    GeneratorSettings next = Ch().dialog.Settings();
    next.frequency = hertz;
    Ch().shapes.FollowFrequency(next);
    Change(next);
    return true;
}

bool ScpiInstrument::AskFrequency(const ScpiCommand& command, std::string& answer)
{
    double hertz = Ch().dialog.m_frequency;
    if (!m_read.ReadLimitQuery(
            command, {Ch().dialog.m_minFrequency, Ch().shapes.MostFrequency(), kDefaultFrequency},
            hertz)) {
        return false;
    }
    answer = ScpiNumber(hertz);
    return true;
}

double ScpiInstrument::MostAmplitude(int waveform) const
{
    return m_fullScale * (waveform == kRamp || waveform == kArbitrary ? 1.0 : kSpan[waveform]);
}

// Peak to peak over AC RMS, for the waveform as it is set: a two-level
// wave's from its duty cycle, an arbitrary waveform's from its points
// (peak to peak being the span of -1 to 1).
double ScpiInstrument::PeakToRms(int waveform) const
{
    const ShapeSettings& shape = Ch().dialog.m_shape;
    const auto twoLevel = [](double high) { return 1 / std::sqrt(high * (1 - high)); };
    switch (waveform) {
    case kRamp:
        return 2 * std::sqrt(3.0);
    case kSquare:
        return shape.dutyCycle == 50.0 ? 2.0 : twoLevel(shape.dutyCycle / 100);
    case kPulse:
        return shape.pulseWidth == 0.0 ? kPeakToRms[kPulse]
                                       : twoLevel(shape.pulseWidth * Ch().dialog.m_frequency);
    case kArbitrary: {
        const double rms = shape.points ? ArbitraryRms(*shape.points) : 0.0;
        return rms > 0.0 ? 2 / rms : 2 * std::sqrt(3.0);
    }
    default:
        return kPeakToRms[waveform];
    }
}

double ScpiInstrument::ToVpp(double value, AmplitudeUnit unit) const
{
    const double ratio = PeakToRms(Ch().dialog.m_waveform);
    switch (unit) {
    case AmplitudeUnit::Vrms:
        return value * ratio;
    case AmplitudeUnit::Dbm:
        return std::sqrt(Ch().load * kMilliwatt * std::pow(10.0, value / 10)) * ratio;
    default:
        return value;
    }
}

double ScpiInstrument::FromVpp(double vpp, AmplitudeUnit unit) const
{
    const double rms = vpp / PeakToRms(Ch().dialog.m_waveform);
    switch (unit) {
    case AmplitudeUnit::Vrms:
        return rms;
    case AmplitudeUnit::Dbm:
        return 10 * std::log10(rms * rms / Ch().load / kMilliwatt);
    default:
        return vpp;
    }
}

// The samples' level for an amplitude (volts peak to peak).
double ScpiInstrument::LevelFor(double vpp, int waveform) const
{
    const double most = MostAmplitude(waveform);
    return vpp >= most ? 1.0 : vpp / most;
}

namespace {

constexpr const char* kUnitNames[] = {"VPP", "VRMS", "DBM"};

// A value's own unit ("0.5VPP", "-10 DBM"), taken off its text.
bool TakeUnitSuffix(std::string& text, ScpiInstrument::AmplitudeUnit& unit)
{
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') {
        --end;
    }
    for (int row = 0; row < 3; ++row) {
        const std::string_view name = kUnitNames[row];
        if (end >= name.size() &&
            MatchesMnemonic(std::string_view(text).substr(end - name.size(), name.size()), name)) {
            text.resize(end - name.size());
            unit = static_cast<ScpiInstrument::AmplitudeUnit>(row);
            return true;
        }
    }
    return false;
}

}  // namespace

bool ScpiInstrument::SetAmplitude(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    std::string text = command.parameters.front();
    AmplitudeUnit unit = Ch().unit;
    const bool suffixed = TakeUnitSuffix(text, unit);
    if (unit == AmplitudeUnit::Dbm && !DbmAllowed()) {
        return false;
    }
    const double most = MostAmplitude(Ch().dialog.m_waveform);
    const double least = most * kLeastLevel;
    double vpp = 0.0;
    if (!suffixed && (Is(text, "MINimum") || Is(text, "MAXimum") || Is(text, "DEFault"))) {
        vpp = Is(text, "MINimum") ? least : most;
    } else if (const int error = unit == AmplitudeUnit::Dbm
                                     ? ParseNumber(text, vpp)
                                     : ParseNumber(text, vpp, {{"V", 1.0}, {"MV", 1e-3}});
               error != 0) {
        m_read.QueueValueError(error, "not an amplitude: " + command.parameters.front());
        return false;
    } else {
        vpp = ToVpp(vpp, unit);
    }
    // (A relative tolerance, so that MAX read back in VRMS is MAX again.)
    if (!(vpp >= least * (1 - 1e-12) && vpp <= most * (1 + 1e-12))) {
        Queue(scpi::kDataOutOfRange, "the amplitude is " + ScpiNumber(FromVpp(least, unit)) +
                                         " to " + ScpiNumber(FromVpp(most, unit)) + " " +
                                         kUnitNames[static_cast<int>(unit)]);
        return false;
    }
    Ch().boundSet = Bound::None;
    SetVpp(std::min(vpp, most));
    return true;
}

void ScpiInstrument::SetVpp(double vpp)
{
    if (vpp == Ch().amplitude) {
        return;  // the same again: nothing to do
    }
    GeneratorSettings next = Ch().dialog.Settings();
    next.level = LevelFor(vpp, Ch().dialog.m_waveform);
    if (Change(next)) {
        Ch().amplitude = vpp;
    }
}

bool ScpiInstrument::AskAmplitude(const ScpiCommand& command, std::string& answer)
{
    const double most = MostAmplitude(Ch().dialog.m_waveform);
    double vpp = Ch().amplitude;
    if (!m_read.ReadLimitQuery(command, {most * kLeastLevel, most, most}, vpp)) {
        return false;
    }
    answer = ScpiNumber(FromVpp(vpp, Ch().unit));
    return true;
}

// dBm is a power: it needs the load the output drives.
bool ScpiInstrument::DbmAllowed()
{
    if (Ch().load < kInfinity) {
        return true;
    }
    Queue(scpi::kSettingsConflict, "dBm needs a finite OUTPut:LOAD");
    return false;
}

// VOLTage:HIGH and :LOW. With the offset 0 the two are symmetric about 0 V:
// one sets the amplitude, and the other given right after it must agree.
bool ScpiInstrument::SetLevel(const ScpiCommand& command, Bound bound)
{
    const double sign = bound == Bound::High ? 1.0 : -1.0;
    const double half = MostAmplitude(Ch().dialog.m_waveform) / 2;
    double value = 0.0;
    if (!m_read.TakesOne(command)) {
        return false;
    }
    if (ParseNumber(command.parameters.front(), value, {{"V", 1.0}, {"MV", 1e-3}}) == 0 &&
        !(value * sign > 0.0)) {
        Queue(scpi::kSettingsConflict,
              "the output is AC-coupled: the high level is above 0 V "
              "and the low level below, symmetric about 0 V");
        return false;
    }
    const ParameterReader::Limits limits =
        bound == Bound::High ? ParameterReader::Limits{half * kLeastLevel, half, half}
                             : ParameterReader::Limits{-half, -half * kLeastLevel, -half};
    if (!m_read.ReadSetting(command, limits, {{"V", 1.0}, {"MV", 1e-3}},
                            bound == Bound::High ? "high level" : "low level", "V", value)) {
        return false;
    }
    const double vpp = 2 * value * sign;
    const Bound other = bound == Bound::High ? Bound::Low : Bound::High;
    if (Ch().boundSet == other && std::fabs(vpp - Ch().amplitude) > 1e-9 * vpp) {
        Queue(scpi::kSettingsConflict,
              "the output is AC-coupled: the high and low levels are symmetric about 0 V, "
              "and they are now " +
                  ScpiNumber(Ch().amplitude / 2) + " V and " + ScpiNumber(-Ch().amplitude / 2) +
                  " V");
        Ch().boundSet = Bound::None;
        return false;
    }
    Ch().boundSet = Ch().boundSet == other ? Bound::None : bound;  // a pair that agrees is complete
    SetVpp(vpp);
    return true;
}

bool ScpiInstrument::AskLevel(const ScpiCommand& command, std::string& answer, Bound bound)
{
    const double half = MostAmplitude(Ch().dialog.m_waveform) / 2;
    double value = Ch().amplitude / 2;
    if (!m_read.ReadLimitQuery(command, {half * kLeastLevel, half, half}, value)) {
        return false;
    }
    answer = ScpiNumber(bound == Bound::High ? value : -value);
    return true;
}

bool ScpiInstrument::SetUnit(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"VPP", "VRMS", "DBM", "DEFault"}, row)) {
        return false;
    }
    const auto unit = row == 3 ? AmplitudeUnit::Vpp : static_cast<AmplitudeUnit>(row);
    if (unit == AmplitudeUnit::Dbm && !DbmAllowed()) {
        return false;
    }
    Ch().unit = unit;
    return true;
}

bool ScpiInstrument::AskUnit(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::string(kUnitNames[static_cast<int>(Ch().unit)]);
    return true;
}

// The output is AC-coupled: no offset but 0.
bool ScpiInstrument::SetOffset(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    const std::string& text = command.parameters.front();
    double volts = 0.0;
    if (Is(text, "MINimum") || Is(text, "MAXimum") || Is(text, "DEFault")) {
        return true;
    }
    if (const int error = ParseNumber(text, volts, {{"V", 1.0}, {"MV", 1e-3}}); error != 0) {
        m_read.QueueValueError(error, "not an offset: " + text);
        return false;
    }
    if (volts != 0.0) {
        Queue(scpi::kSettingsConflict, "the output is AC-coupled: the offset is 0 V");
        return false;
    }
    return true;
}

bool ScpiInstrument::AskOffset(const ScpiCommand& command, std::string& answer)
{
    double volts = 0.0;
    if (!m_read.ReadLimitQuery(command, {0.0, 0.0, 0.0}, volts)) {
        return false;
    }
    answer = ScpiNumber(volts);
    return true;
}

bool ScpiInstrument::AskRange(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = ScpiNumber(m_fullScale);
    return true;
}

bool ScpiInstrument::SetOutput(const ScpiCommand& command)
{
    bool on = false;
    if (!m_read.TakesOne(command) || !m_read.ReadBoolean(command.parameters.front(), on)) {
        return false;
    }
    if (on == Ch().on && (!on || Ch().dialog.m_waveOut != nullptr)) {
        return true;  // the same again: nothing to do
    }
    if (!on) {
        SwitchOff(Ch());
        return true;
    }
    if (!LoopsFit(Ch().dialog.Settings(), true)) {
        return true;  // refused, its error queued
    }
    const SettingsOutcome started =
        Ch().dialog.ApplySettings(Ch().dialog.Settings(), SettingsRoute::Start);
    Ch().on = started == SettingsOutcome::Restarted;
    return true;
}

// Whether the addressed channel's loop for `next` and the other channel's
// (while both play) fit one two-channel buffer; a refusal is queued.
bool ScpiInstrument::LoopsFit(const GeneratorSettings& next, bool plays)
{
    const Channel& other = *m_channels[static_cast<std::size_t>(1 - m_current)];
    if (!plays || !other.on) {
        return true;
    }
    GeneratorState state = Ch().dialog;
    state.m_waveform = next.waveform;
    state.m_frequency = next.frequency;
    if (CheckWaveform(state, next.shape) == SynthesisResult::Refused ||
        StereoWaveOut::JointLength(state.m_sampleCount, other.dialog.m_sampleCount) != 0) {
        return true;  // (a refusal is the dialog's to tell)
    }
    Queue(scpi::kSettingsConflict,
          "the two channels' loops (" + std::to_string(state.m_sampleCount) + " and " +
              std::to_string(other.dialog.m_sampleCount) +
              " samples) do not fit one buffer: make one a multiple of the other");
    return false;
}

bool ScpiInstrument::AskOutput(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::to_string(Ch().on ? 1 : 0);
    return true;
}

// The load the output drives, for the scripts that set it: stored, and
// the level is the sound card's whatever it is.
bool ScpiInstrument::SetLoad(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    const std::string& text = command.parameters.front();
    double ohms = 0.0;
    if (Is(text, "INFinity") || Is(text, "MAXimum") || Is(text, "MINimum") || Is(text, "DEFault")) {
        ohms = Is(text, "INFinity")  ? kInfinity
               : Is(text, "MAXimum") ? kMostLoad
               : Is(text, "MINimum") ? kLeastLoad
                                     : kDefaultLoad;
    } else if (const int error = ParseNumber(text, ohms, {{"OHM", 1.0}, {"KOHM", 1e3}});
               error != 0) {
        m_read.QueueValueError(error, "not a load: " + text);
        return false;
    } else if (!(ohms >= kLeastLoad && ohms <= kMostLoad)) {
        Queue(scpi::kDataOutOfRange, "the load is 1 to 10000 ohms, or INFinity");
        return false;
    }
    Ch().load = ohms;
    if (Ch().load >= kInfinity && Ch().unit == AmplitudeUnit::Dbm) {
        Ch().unit = AmplitudeUnit::Vpp;  // no power without a load, as bench generators do
    }
    return true;
}

bool ScpiInstrument::AskLoad(const ScpiCommand& command, std::string& answer)
{
    double ohms = Ch().load;
    if (!m_read.ReadLimitQuery(command, {kLeastLoad, kMostLoad, kDefaultLoad}, ohms)) {
        return false;
    }
    answer = ScpiNumber(ohms);
    return true;
}

// APPLy:<function> [frequency[,amplitude[,offset]]]: all in one, then the
// output on, as bench generators do it.
bool ScpiInstrument::Apply(const ScpiCommand& command, const char* function)
{
    if (command.parameters.size() > 3) {
        Queue(scpi::kParameterNotAllowed);
        return false;
    }
    const auto one = [&](const char* header, std::size_t index) {
        ScpiCommand part;
        part.nodes = {header};
        part.parameters = {index < command.parameters.size() ? command.parameters[index]
                                                             : std::string("DEF")};
        return part;
    };
    ScpiCommand shape;
    shape.parameters = {function};
    const ScpiCommand output = [] {
        ScpiCommand on;
        on.parameters = {"ON"};
        return on;
    }();
    // The frequency and amplitude keep their values when not given.
    const bool frequencyGiven = !command.parameters.empty();
    const bool amplitudeGiven = command.parameters.size() > 1;
    return SetFunction(shape) && (!frequencyGiven || SetFrequency(one("FREQ", 0))) &&
           (!amplitudeGiven || SetAmplitude(one("VOLT", 1))) &&
           (command.parameters.size() < 3 || SetOffset(one("VOLT:OFFS", 2))) && SetOutput(output);
}

bool ScpiInstrument::AskApply(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = ScpiString(FunctionName() + " " + ScpiNumber(Ch().dialog.m_frequency) + "," +
                        ScpiNumber(Ch().amplitude) + "," + ScpiNumber(0.0));
    return true;
}

bool ScpiInstrument::AskError(const ScpiCommand& command, std::string& answer, bool codeOnly)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = NextError(codeOnly);
    return true;
}

// The whole queue, oldest first, read and cleared ("0,..." when empty).
bool ScpiInstrument::AskAllErrors(const ScpiCommand& command, std::string& answer, bool codeOnly)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = NextError(codeOnly);
    while (!m_errors.empty()) {
        answer += ',';
        answer += NextError(codeOnly);
    }
    return true;
}

bool ScpiInstrument::AskErrorCount(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::to_string(m_errors.size());
    return true;
}

bool ScpiInstrument::AskVersion(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::string("1999.0");
    return true;
}

bool ScpiInstrument::AskStatusLine(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = ScpiString(Ch().window.m_statusText);
    return true;
}

bool ScpiInstrument::SetEnable(const ScpiCommand& command, int& enable)
{
    int value = 0;
    if (!m_read.TakesOne(command) ||
        !m_read.ReadInteger(command.parameters.front(), kMostEnable, value)) {
        return false;
    }
    enable = value & kRegisterBits;
    return true;
}

// SCPI's preset: the enable registers as after power-on.
bool ScpiInstrument::Preset(const ScpiCommand& command)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    for (StatusRegister* reg : {&m_operation, &m_questionable, &m_instrumentSummary,
                                &m_channels[0]->summary, &m_channels[1]->summary}) {
        reg->enable = 0;
        reg->positive = kRegisterBits;
        reg->negative = 0;
    }
    return true;
}

// TRACk ON: channel 2 plays what channel 1 plays (INVerted: the other
// polarity, a differential pair), from now on; OFF leaves it as it is.
bool ScpiInstrument::SetTrack(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"OFF", "ON", "INVerted"}, row)) {
        return false;
    }
    m_track = static_cast<Track>(row);
    if (m_track != Track::Off) {
        FollowChannel1();
    }
    return true;
}

bool ScpiInstrument::AskTrack(const ScpiCommand& command, std::string& answer)
{
    static const char* const kStates[] = {"OFF", "ON", "INV"};
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::string(kStates[static_cast<int>(m_track)]);
    return true;
}

// Channel 2 takes channel 1's settings, level and output state.
void ScpiInstrument::FollowChannel1()
{
    Channel& first = *m_channels[0];
    Channel& second = *m_channels[1];
    GeneratorSettings settings = first.dialog.Settings();
    settings.shape.inverted = settings.shape.inverted != (m_track == Track::Inverted);
    second.amplitude = first.amplitude;
    second.unit = first.unit;
    second.load = first.load;
    second.userName = first.userName;
    if (!first.on) {
        if (second.on) {
            SwitchOff(second);
        }
        second.dialog.ApplySettings(settings, SettingsRoute::Live);
        return;
    }
    if (settings == second.dialog.Settings() && second.on) {
        return;
    }
    const SettingsRoute route = second.on ? SettingsRoute::Live : SettingsRoute::Start;
    const SettingsOutcome outcome = second.dialog.ApplySettings(settings, route);
    second.on = second.dialog.m_waveOut != nullptr && outcome != SettingsOutcome::Refused &&
                outcome != SettingsOutcome::Failed;
}

// The couplings after a setting: channel 2 tracking channel 1, and each
// channel's frequency (by a ratio or an offset) and level following the
// other's, whichever was set.
void ScpiInstrument::Couple()
{
    const int set = m_current;
    if (m_track != Track::Off && set == 0) {
        FollowChannel1();
    }
    Channel& from = *m_channels[static_cast<std::size_t>(set)];
    m_current = 1 - set;
    Channel& to = Ch();
    if (m_frequencyCoupled) {
        const double f = from.dialog.m_frequency;
        const double hertz = set == 0
                                 ? (m_ratioMode ? f * m_frequencyRatio : f + m_frequencyOffset)
                                 : (m_ratioMode ? f / m_frequencyRatio : f - m_frequencyOffset);
        if (hertz != to.dialog.m_frequency && hertz > 0.0) {
            GeneratorSettings next = to.dialog.Settings();
            next.frequency = hertz;
            Change(next);
        }
    }
    if (m_levelCoupled && from.amplitude != to.amplitude) {
        SetVpp(std::min(from.amplitude, MostAmplitude(to.dialog.m_waveform)));
    }
    m_current = set;
}

bool ScpiInstrument::SetCoupling(const ScpiCommand& command, bool& coupled)
{
    return m_read.TakesOne(command) && m_read.ReadBoolean(command.parameters.front(), coupled);
}

bool ScpiInstrument::AskCoupling(const ScpiCommand& command, std::string& answer, bool coupled)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::to_string(coupled ? 1 : 0);
    return true;
}

bool ScpiInstrument::SetCouplingMode(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"RATio", "OFFSet"}, row)) {
        return false;
    }
    m_ratioMode = row == 0;
    return true;
}

bool ScpiInstrument::AskCouplingMode(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::string(m_ratioMode ? "RAT" : "OFFS");
    return true;
}

// Channel 2's frequency against channel 1's: a ratio of 0.001 to 1000, or
// an offset within the frequency range.
bool ScpiInstrument::SetCouplingValue(const ScpiCommand& command, double& value, bool ratio)
{
    const double span = Ch().dialog.m_maxFrequency;
    const ParameterReader::Limits limits = ratio ? ParameterReader::Limits{0.001, 1000.0, 1.0}
                                                 : ParameterReader::Limits{-span, span, 0.0};
    return m_read.ReadSetting(
        command, limits,
        ratio ? ParameterReader::Suffixes{} : ParameterReader::Suffixes{{"HZ", 1.0}},
        ratio ? "frequency ratio" : "frequency offset", ratio ? "" : "Hz", value);
}

bool ScpiInstrument::AskCouplingValue(const ScpiCommand& command, std::string& answer, double value,
                                      bool ratio)
{
    const double span = Ch().dialog.m_maxFrequency;
    if (!m_read.ReadLimitQuery(command,
                               ratio ? ParameterReader::Limits{0.001, 1000.0, 1.0}
                                     : ParameterReader::Limits{-span, span, 0.0},
                               value)) {
        return false;
    }
    answer = ScpiNumber(value);
    return true;
}

// Both channels as the window starts, off.
void ScpiInstrument::Reset()
{
    SwitchOff();
    m_store.Clear();
    m_track = Track::Off;
    m_frequencyCoupled = false;
    m_levelCoupled = false;
    m_ratioMode = true;
    m_frequencyRatio = 1.0;
    m_frequencyOffset = 0.0;
    for (const auto& channel : m_channels) {
        channel->dialog.OnInitDialog();
        channel->dialog.m_level = 1.0;
        channel->dialog.m_shape = {};
        channel->shapes.Reset();
        channel->userName = false;
        channel->unit = AmplitudeUnit::Vpp;
        channel->boundSet = Bound::None;
        channel->load = kDefaultLoad;
        channel->amplitude = m_fullScale;
    }
}

void ScpiInstrument::SwitchOff()
{
    for (const auto& channel : m_channels) {
        SwitchOff(*channel);
    }
}

// One channel off; the loss is no longer a condition once none is on.
void ScpiInstrument::SwitchOff(Channel& channel)
{
    channel.on = false;
    channel.dialog.OnStop();
    if (std::none_of(m_channels.begin(), m_channels.end(), [](const auto& c) { return c->on; })) {
        m_lossQueued = false;
    }
    ShowLoss();
}

// The lost sound as a condition: of each channel that is on (its own
// register), and of the instrument (QUEStionable bit 9); each channel's
// summary in the instrument summary, and that in QUEStionable bit 13.
void ScpiInstrument::ShowLoss()
{
    bool anyLost = false;
    int channelBit = 1 << 1;
    for (const auto& channel : m_channels) {
        const OutputState state = IWaveOut::Status(channel->dialog.m_waveOut).state;
        const bool lost =
            channel->on && (state == OutputState::Lost || state == OutputState::Reopening);
        channel->summary.Set(kNoSound, lost);
        m_instrumentSummary.Set(channelBit,
                                (channel->summary.event & channel->summary.enable) != 0);
        anyLost = anyLost || lost;
        channelBit <<= 1;
    }
    m_questionable.Set(kNoSound, anyLost);
    m_questionable.Set(kInstrumentSummary,
                       (m_instrumentSummary.event & m_instrumentSummary.enable) != 0);
}

// A setting under the output as it is, decided by the dialog: refused
// (false, its error queued, nothing changed; the message goes on, as after
// any execution error), kept for the output going on or for a lost device's
// return, or switched in while it plays.
bool ScpiInstrument::Change(const GeneratorSettings& next)
{
    if (!LoopsFit(next, Ch().on)) {
        return false;
    }
    const SettingsOutcome outcome = Ch().dialog.ApplySettings(next, SettingsRoute::Live);
    if (outcome == SettingsOutcome::Refused) {
        return false;
    }
    // (An output that could not switch was started anew: it may not play.)
    Ch().on = Ch().on && Ch().dialog.m_waveOut != nullptr;
    return true;
}

// Lost, the output stays on as set while the device is opened again; the
// loss is queued once and shows as a QUEStionable condition until the
// sound is back.
void ScpiInstrument::OnOutputChange()
{
    for (const auto& channel : m_channels) {
        channel->dialog.OnOutputChange();
    }
    ShowLoss();
    const bool lost = (m_questionable.condition & kNoSound) != 0;
    if (lost && !m_lossQueued) {
        m_lossQueued = true;
        Queue(scpi::kHardwareMissing, "the output device was lost; reconnecting; " + m_failure);
    } else if (!lost) {
        m_lossQueued = false;
    }
}

// Each message box of the window as an error, its code from which box it
// is and its text the box's own.
void ScpiInstrument::OnMessage(int channel, const std::string& text)
{
    using Message = CWaveGeneratorDialog::Message;
    switch (m_channels[static_cast<std::size_t>(channel)]->dialog.m_lastMessage) {
    case Message::IllegalFrequency:
        Queue(scpi::kIllegalParameterValue, text);
        break;
    case Message::Correction:
        Queue(scpi::kDataOutOfRange, text);
        break;
    case Message::OpenFailed:
        Queue(scpi::kHardwareMissing, text);
        break;
    case Message::CannotOpen:
        Queue(scpi::kHardwareMissing, text + "; " + m_failure);
        break;
    case Message::Refusal:
    case Message::None:
        Queue(scpi::kSettingsConflict, text);
        break;
    }
}

void ScpiInstrument::Queue(int code, const std::string& detail)
{
    m_commandError = m_commandError || (code <= -100 && code > -200);
    m_eventStatus |= EventBitOf(code);
    std::string text = scpi::ErrorText(code);
    if (!detail.empty()) {
        text += "; " + detail;
    }
    if (m_errors.size() >= kErrorQueueSize) {
        m_errors.back() = {scpi::kQueueOverflow, scpi::ErrorText(scpi::kQueueOverflow)};
        return;
    }
    m_errors.emplace_back(code, text);
}

std::string ScpiInstrument::NextError(bool codeOnly)
{
    if (m_errors.empty()) {
        return codeOnly ? std::string("0") : std::string("0,\"No error\"");
    }
    const auto [code, text] = m_errors.front();
    m_errors.pop_front();
    return std::to_string(code) + (codeOnly ? "" : "," + ScpiString(text, kMostErrorText));
}

int ScpiInstrument::StatusByte(bool messageAvailable) const
{
    const int summary =
        (m_errors.empty() ? 0 : kErrorAvailable) | (messageAvailable ? kMessageAvailable : 0) |
        ((m_questionable.event & m_questionable.enable) != 0 ? kQuestionableSummary : 0) |
        ((m_eventStatus & m_eventEnable) != 0 ? kEventSummary : 0) |
        ((m_operation.event & m_operation.enable) != 0 ? kOperationSummary : 0);
    return summary | ((summary & m_serviceEnable) != 0 ? kMasterSummary : 0);
}
