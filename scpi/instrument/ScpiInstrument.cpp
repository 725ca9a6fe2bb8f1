#include "ScpiInstrument.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <thread>

#include "NumberRules.h"
#include "WaveformNames.h"

namespace {

// The waveforms as SCPI names them, in list order (short form in capitals).
constexpr const char* kFunctions[] = {"SINusoid", "TRIangle", "SQUare", "PULSe",
                                      "NOISe",    "HNOise",   "SWEep"};
static_assert(std::size(kFunctions) == kWaveformCount);

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

// A text as a SCPI string: on one line, quotes doubled, at most `most`
// characters between the quotes.
std::string Quoted(std::string_view text, std::size_t most = std::string::npos)
{
    while (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    std::string inside;
    for (char c : text) {
        const std::string piece = c == '\n' ? " " : c == '"' ? "\"\"" : std::string(1, c);
        if (inside.size() + piece.size() > most) {
            break;
        }
        inside += piece;
    }
    return "\"" + inside + "\"";
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
                                        StatusRegister ScpiInstrument::*reg)
{
    using I = ScpiInstrument;
    using C = const ScpiCommand&;
    using A = std::string&;
    const auto number = [](A answer, int value) {
        answer = std::to_string(value);
        return true;
    };
    table.push_back({ParseHeaderPattern(name + "[:EVENt]"), nullptr, [=](I& i, C c, A a) {
                         const int event = (i.*reg).event;
                         (i.*reg).event = 0;
                         return i.m_read.TakesNone(c) && number(a, event);
                     }});
    table.push_back({ParseHeaderPattern(name + ":CONDition"), nullptr, [=](I& i, C c, A a) {
                         return i.m_read.TakesNone(c) && number(a, (i.*reg).condition);
                     }});
    for (const auto& entry : {std::pair{":ENABle", &StatusRegister::enable},
                              std::pair{":PTRansition", &StatusRegister::positive},
                              std::pair{":NTRansition", &StatusRegister::negative}}) {
        const auto [field, value] = entry;
        const auto mask = value;  // (a lambda may not capture a structured binding)
        table.push_back(
            {ParseHeaderPattern(name + field),
             [=](I& i, C c) { return i.SetEnable(c, (i.*reg).*mask); },
             [=](I& i, C c, A a) { return i.m_read.TakesNone(c) && number(a, (i.*reg).*mask); }});
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
            {ParseHeaderPattern("[SOURce:]STATus"), nullptr,
             [](I& i, C c, A a) { return i.AskStatusLine(c, a); }},
        };
        // The two SCPI status registers, each with the same five headers.
        for (const auto& [name, reg] : {std::pair{"STATus:OPERation", &I::m_operation},
                                        std::pair{"STATus:QUEStionable", &I::m_questionable}}) {
            AddRegisterHeaders(table, name, reg);
        }
        // APPLy:SINusoid and the rest, one header each.
        static constexpr bool (*kApply[])(I&, C) = {
            [](I& i, C c) { return i.Apply(c, 0); }, [](I& i, C c) { return i.Apply(c, 1); },
            [](I& i, C c) { return i.Apply(c, 2); }, [](I& i, C c) { return i.Apply(c, 3); },
            [](I& i, C c) { return i.Apply(c, 4); }, [](I& i, C c) { return i.Apply(c, 5); },
            [](I& i, C c) { return i.Apply(c, 6); },
        };
        static_assert(std::size(kApply) == kWaveformCount);
        for (int row = 0; row < kWaveformCount; ++row) {
            table.push_back({ParseHeaderPattern(std::string("[SOURce:]APPLy:") + kFunctions[row]),
                             kApply[row], nullptr});
        }
        return table;
    }();
    return headers;
}

ScpiInstrument::ScpiInstrument(IWaveOut& device, ITickSource& ticks, double fullScaleVpp,
                               std::string serial)
    : m_read([this](int code, const std::string& detail) { Queue(code, detail); }),
      m_dialog(m_window, device, ticks),
      m_fullScale(fullScaleVpp),
      m_serial(std::move(serial)),
      m_amplitude(fullScaleVpp)
{
    m_window.m_onMessage = [this](const char* text) { OnMessage(text); };
    m_window.m_onFailure = [this](const char* line) { m_failure = line; };
    m_dialog.OnInitDialog();
    m_dialog.m_centredNoise = true;
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
    if (!m_on || m_dialog.m_waveOut == nullptr) {
        return true;
    }
    const OutputStatus status = IWaveOut::Status(m_dialog.m_waveOut);
    return status.state != OutputState::Playing || status.loopWritten == status.loopsAsked;
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
                session.waitUntil = std::chrono::steady_clock::now() + kLongestWait;
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
    if (command.common) {
        return RunCommon(command, answer);
    }
    // A command without a leading ":" continues the path of the one before;
    // failing that, it is read from the root.
    std::vector<std::string> typed = command.rooted ? std::vector<std::string>() : session.path;
    typed.insert(typed.end(), command.nodes.begin(), command.nodes.end());
    const auto find = [](const std::vector<std::string>& nodes) -> const Header* {
        std::vector<std::string> names;
        for (const std::string& node : nodes) {
            names.push_back(SplitSuffix(node).first);
        }
        for (const Header& header : Headers()) {
            if (MatchesHeader(names, header.pattern)) {
                return &header;
            }
        }
        return nullptr;
    };
    const Header* header = find(typed);
    if (header == nullptr && !command.rooted && !session.path.empty()) {
        typed = command.nodes;
        header = find(typed);
    }
    session.path.assign(typed.begin(), typed.end() - 1);
    if (header == nullptr || (command.query ? header->ask == nullptr : header->set == nullptr)) {
        Queue(scpi::kUndefinedHeader);
        return false;
    }
    // One instrument with one output: every numbered node is number 1.
    for (const std::string& node : typed) {
        if (SplitSuffix(node).second != 1) {
            Queue(scpi::kHeaderSuffixOutOfRange, node);
            return false;
        }
    }
    return command.query ? header->ask(*this, command, answer) : header->set(*this, command);
}

bool ScpiInstrument::RunCommon(const ScpiCommand& command, std::string& answer)
{
    const std::string& name = command.nodes.front();
    const bool query = command.query;
    const bool takesValue = (name == "ESE" || name == "SRE") && !query;
    static const char* const kKnown[] = {"CLS", "ESE", "ESR", "IDN", "OPC", "OPT",
                                         "RST", "SRE", "STB", "TST", "WAI"};
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
    } else if (!query && name == "RST") {
        Reset();
    } else if (!query && name == "CLS") {
        m_errors.clear();
        m_eventStatus = 0;
        m_operation.event = 0;
        m_questionable.event = 0;
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

bool ScpiInstrument::SetFunction(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    for (int row = 0; row < kWaveformCount; ++row) {
        if (!Is(command.parameters.front(), kFunctions[row])) {
            continue;
        }
        if (row == m_dialog.m_waveform) {
            return true;  // the same again: nothing to do
        }
        // (Full scale stays full scale, whatever the function's span.)
        const double most = MostAmplitude(row);
        const bool atMost = m_amplitude == MostAmplitude(m_dialog.m_waveform);
        const bool reduced = !atMost && m_amplitude > most;
        const double vpp = atMost ? most : std::min(m_amplitude, most);
        GeneratorSettings next = m_dialog.Settings();
        next.waveform = row;
        next.level = LevelFor(vpp, row);
        if (!Change(next)) {
            return true;  // refused, its error queued: the message goes on
        }
        m_amplitude = vpp;
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
    answer = ShortForm(kFunctions[m_dialog.m_waveform]);
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
        hertz = Is(text, "MINimum")   ? m_dialog.m_minFrequency
                : Is(text, "MAXimum") ? m_dialog.m_maxFrequency
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
    if (hertz == m_dialog.m_frequency) {
        return true;  // the same again: nothing to do
    }
    GeneratorSettings next = m_dialog.Settings();
    next.frequency = hertz;
    Change(next);
    return true;
}

bool ScpiInstrument::AskFrequency(const ScpiCommand& command, std::string& answer)
{
    double hertz = m_dialog.m_frequency;
    if (!m_read.ReadLimitQuery(
            command, {m_dialog.m_minFrequency, m_dialog.m_maxFrequency, kDefaultFrequency},
            hertz)) {
        return false;
    }
    answer = ScpiNumber(hertz);
    return true;
}

double ScpiInstrument::MostAmplitude(int waveform) const
{
    return m_fullScale * kSpan[waveform];
}

// The samples' level for an amplitude (volts peak to peak).
double ScpiInstrument::LevelFor(double vpp, int waveform) const
{
    const double most = MostAmplitude(waveform);
    return vpp >= most ? 1.0 : vpp / most;
}

bool ScpiInstrument::SetAmplitude(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    const std::string& text = command.parameters.front();
    const int waveform = m_dialog.m_waveform;
    const double most = MostAmplitude(waveform);
    const double unit = m_rms ? kPeakToRms[waveform] : 1.0;
    double vpp = 0.0;
    if (Is(text, "MINimum") || Is(text, "MAXimum") || Is(text, "DEFault")) {
        vpp = Is(text, "MINimum") ? most * kLeastLevel : most;
    } else if (const int error = ParseNumber(text, vpp, {{"V", 1.0}, {"MV", 1e-3}}); error != 0) {
        m_read.QueueValueError(error, "not an amplitude: " + text);
        return false;
    } else {
        vpp *= unit;
    }
    // (A relative tolerance, so that MAX read back in VRMS is MAX again.)
    if (!(vpp >= most * kLeastLevel * (1 - 1e-12) && vpp <= most * (1 + 1e-12))) {
        Queue(scpi::kDataOutOfRange, "the amplitude is " + ScpiNumber(most * kLeastLevel / unit) +
                                         " to " + ScpiNumber(most / unit) +
                                         (m_rms ? " VRMS" : " VPP"));
        return false;
    }
    vpp = std::min(vpp, most);
    if (vpp == m_amplitude) {
        return true;  // the same again: nothing to do
    }
    GeneratorSettings next = m_dialog.Settings();
    next.level = LevelFor(vpp, waveform);
    if (Change(next)) {
        m_amplitude = vpp;
    }
    return true;
}

bool ScpiInstrument::AskAmplitude(const ScpiCommand& command, std::string& answer)
{
    const double most = MostAmplitude(m_dialog.m_waveform);
    double vpp = m_amplitude;
    if (!m_read.ReadLimitQuery(command, {most * kLeastLevel, most, most}, vpp)) {
        return false;
    }
    answer = ScpiNumber(m_rms ? vpp / kPeakToRms[m_dialog.m_waveform] : vpp);
    return true;
}

bool ScpiInstrument::SetUnit(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    const std::string& text = command.parameters.front();
    if (!Is(text, "VPP") && !Is(text, "VRMS")) {
        Queue(scpi::kIllegalParameterValue, "not VPP or VRMS: " + text);
        return false;
    }
    m_rms = Is(text, "VRMS");
    return true;
}

bool ScpiInstrument::AskUnit(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::string(m_rms ? "VRMS" : "VPP");
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
    if (on == m_on && (!on || m_dialog.m_waveOut != nullptr)) {
        return true;  // the same again: nothing to do
    }
    if (!on) {
        SwitchOff();
        return true;
    }
    const SettingsOutcome started =
        m_dialog.ApplySettings(m_dialog.Settings(), SettingsRoute::Start);
    m_on = started == SettingsOutcome::Restarted;
    return true;
}

bool ScpiInstrument::AskOutput(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = std::to_string(m_on ? 1 : 0);
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
    m_load = ohms;
    return true;
}

bool ScpiInstrument::AskLoad(const ScpiCommand& command, std::string& answer)
{
    double ohms = m_load;
    if (!m_read.ReadLimitQuery(command, {kLeastLoad, kMostLoad, kDefaultLoad}, ohms)) {
        return false;
    }
    answer = ScpiNumber(ohms);
    return true;
}

// APPLy:<function> [frequency[,amplitude[,offset]]]: all in one, then the
// output on, as bench generators do it.
bool ScpiInstrument::Apply(const ScpiCommand& command, int function)
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
    shape.parameters = {kFunctions[function]};
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
    answer =
        Quoted(ShortForm(kFunctions[m_dialog.m_waveform]) + " " + ScpiNumber(m_dialog.m_frequency) +
               "," + ScpiNumber(m_amplitude) + "," + ScpiNumber(0.0));
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
    answer = Quoted(m_window.m_statusText);
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
    for (StatusRegister* reg : {&m_operation, &m_questionable}) {
        reg->enable = 0;
        reg->positive = kRegisterBits;
        reg->negative = 0;
    }
    return true;
}

void ScpiInstrument::Reset()
{
    SwitchOff();
    m_dialog.OnInitDialog();
    m_dialog.m_level = 1.0;
    m_rms = false;
    m_load = kDefaultLoad;
    m_amplitude = MostAmplitude(m_dialog.m_waveform);
}

void ScpiInstrument::SwitchOff()
{
    m_on = false;
    m_dialog.OnStop();
    m_questionable.Set(kNoSound, false);
    m_lossQueued = false;
}

// A setting under the output as it is, decided by the dialog: refused
// (false, its error queued, nothing changed; the message goes on, as after
// any execution error), kept for the output going on or for a lost device's
// return, or switched in while it plays.
bool ScpiInstrument::Change(const GeneratorSettings& next)
{
    const SettingsOutcome outcome = m_dialog.ApplySettings(next, SettingsRoute::Live);
    if (outcome == SettingsOutcome::Refused) {
        return false;
    }
    // (An output that could not switch was started anew: it may not play.)
    m_on = m_on && m_dialog.m_waveOut != nullptr;
    return true;
}

// Lost, the output stays on as set while the device is opened again; the
// loss is queued once and shows as a QUEStionable condition until the
// sound is back.
void ScpiInstrument::OnOutputChange()
{
    m_dialog.OnOutputChange();
    const OutputState state = IWaveOut::Status(m_dialog.m_waveOut).state;
    const bool lost = m_on && (state == OutputState::Lost || state == OutputState::Reopening);
    m_questionable.Set(kNoSound, lost);
    if (lost && !m_lossQueued) {
        m_lossQueued = true;
        Queue(scpi::kHardwareMissing, "the output device was lost; reconnecting; " + m_failure);
    } else if (!lost) {
        m_lossQueued = false;
    }
}

// Each message box of the window as an error, its code from which box it
// is and its text the box's own.
void ScpiInstrument::OnMessage(const std::string& text)
{
    using Message = CWaveGeneratorDialog::Message;
    switch (m_dialog.m_lastMessage) {
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
    return std::to_string(code) + (codeOnly ? "" : "," + Quoted(text, kMostErrorText));
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
