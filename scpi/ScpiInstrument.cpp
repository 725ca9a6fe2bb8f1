#include "ScpiInstrument.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "NumberRules.h"
#include "ResourceIds.h"
#include "WaveformNames.h"

namespace {

// The waveforms as SCPI names them, in list order (short form in capitals).
constexpr const char* kFunctions[] = {"SINusoid", "TRIangle", "SQUare", "PULSe",
                                      "NOISe",    "HNOise",   "SWEep"};
static_assert(std::size(kFunctions) == kWaveformCount);

// The event status register's bits (IEEE 488.2).
constexpr int kOperationComplete = 1 << 0;
constexpr int kQueryError = 1 << 2;
constexpr int kDeviceError = 1 << 3;
constexpr int kExecutionError = 1 << 4;
constexpr int kCommandError = 1 << 5;
// The status byte's bits.
constexpr int kErrorAvailable = 1 << 2;
constexpr int kEventSummary = 1 << 5;

// Every header the instrument knows, besides the common commands.
constexpr const char* kHeaders[] = {
    "[SOURce:]FUNCtion[:SHAPe]", "[SOURce:]FREQuency[:CW]", "OUTPut[:STATe]",
    "SYSTem:ERRor[:NEXT]",       "SYSTem:ERRor:COUNt",      "SYSTem:VERSion",
    "[SOURce:]STATus",
};

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

// A text as a SCPI string: on one line, quotes doubled.
std::string Quoted(std::string_view text)
{
    while (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '\n' ? std::string(" ") : c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

std::string Number(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

int EventBitOf(int code)
{
    if (code <= -400) {
        return kQueryError;
    }
    if (code <= -300) {
        return kDeviceError;
    }
    return code <= -200 ? kExecutionError : kCommandError;
}

}  // namespace

ScpiInstrument::ScpiInstrument(IWaveOut& device, ITickSource& ticks)
    : m_output(m_silent), m_device(device), m_dialog(m_window, m_output, ticks)
{
    m_window.m_onMessage = [this](const char* text) { OnMessage(text); };
    m_window.m_onFailure = [this](const char* line) { m_failure = line; };
    m_dialog.OnInitDialog();
}

std::string ScpiInstrument::Execute(std::string_view line)
{
    std::vector<ScpiCommand> commands;
    const int error = ParseScpiLine(line, commands);
    std::string response;
    m_path.clear();
    for (const ScpiCommand& command : commands) {
        std::string answer;
        if (!Run(command, answer)) {
            break;  // the rest of the line is not run after an error
        }
        if (command.query) {
            response += (response.empty() ? "" : ";") + answer;
        }
    }
    if (error != 0) {
        Queue(error);
    }
    return response;
}

bool ScpiInstrument::Run(const ScpiCommand& command, std::string& answer)
{
    if (command.common) {
        return RunCommon(command, answer);
    }
    // A command without a leading ":" continues the path of the one before;
    // failing that, it is read from the root.
    std::vector<std::string> nodes = command.rooted ? std::vector<std::string>() : m_path;
    nodes.insert(nodes.end(), command.nodes.begin(), command.nodes.end());
    const bool known =
        std::any_of(std::begin(kHeaders), std::end(kHeaders),
                    [&](const char* header) { return MatchesHeader(nodes, header); });
    if (!known) {
        nodes = command.nodes;
    }
    m_path.assign(nodes.begin(), nodes.end() - 1);
    const auto is = [&](std::string_view pattern) { return MatchesHeader(nodes, pattern); };
    const bool query = command.query;
    if (query && !command.parameters.empty()) {
        Queue(scpi::kParameterNotAllowed);
        return false;
    }
    if (is("[SOURce:]FUNCtion[:SHAPe]")) {
        answer = query ? ShortForm(kFunctions[m_window.m_selection]) : "";
        return query || SetFunction(command);
    }
    if (is("[SOURce:]FREQuency[:CW]")) {
        answer = query ? Number("%.10E", m_dialog.m_frequency) : "";
        return query || SetFrequency(command);
    }
    if (is("OUTPut[:STATe]")) {
        answer = std::to_string(m_on ? 1 : 0);
        return query || SetOutput(command);
    }
    if (query && is("SYSTem:ERRor[:NEXT]")) {
        answer = NextError();
        return true;
    }
    if (query && is("SYSTem:ERRor:COUNt")) {
        answer = std::to_string(m_errors.size());
        return true;
    }
    if (query && is("SYSTem:VERSion")) {
        answer = "1999.0";
        return true;
    }
    if (query && is("[SOURce:]STATus")) {
        answer = Quoted(m_window.m_statusText);
        return true;
    }
    Queue(scpi::kUndefinedHeader);
    return false;
}

bool ScpiInstrument::RunCommon(const ScpiCommand& command, std::string& answer)
{
    const std::string& name = command.nodes.front();
    const bool query = command.query;
    const bool takesValue = name == "ESE" && !query;
    if (command.parameters.size() != (takesValue ? 1u : 0u)) {
        Queue(takesValue ? scpi::kMissingParameter : scpi::kParameterNotAllowed);
        return false;
    }
    if (query && name == "IDN") {
        answer = "wavegen,wavegen-scpi,0," WAVEGEN_VERSION;
    } else if (!query && name == "RST") {
        Reset();
    } else if (!query && name == "CLS") {
        m_errors.clear();
        m_eventStatus = 0;
    } else if (name == "OPC") {
        m_eventStatus |= query ? 0 : kOperationComplete;
        answer = std::to_string(1);  // every command is complete when its line is answered
    } else if (!query && name == "WAI") {
    } else if (query && name == "ESR") {
        answer = std::to_string(m_eventStatus);
        m_eventStatus = 0;
    } else if (name == "ESE") {
        double value = 0.0;
        if (!query &&
            (ParseFrequency(command.parameters.front(), value) != 0 || value < 0 || value > 255)) {
            Queue(scpi::kDataOutOfRange);
            return false;
        }
        m_eventEnable = query ? m_eventEnable : static_cast<int>(value);
        answer = std::to_string(m_eventEnable);
    } else if (query && name == "STB") {
        answer = std::to_string(StatusByte());
    } else if (query && name == "TST") {
        answer = std::to_string(0);  // (a short literal assigned trips GCC 12's -Wrestrict at -O3)
    } else {
        Queue(scpi::kUndefinedHeader);
        return false;
    }
    return true;
}

// Exactly one parameter; otherwise false, with its error queued.
bool ScpiInstrument::TakesOne(const ScpiCommand& command)
{
    if (command.parameters.size() == 1) {
        return true;
    }
    Queue(command.parameters.empty() ? scpi::kMissingParameter : scpi::kParameterNotAllowed);
    return false;
}

bool ScpiInstrument::SetFunction(const ScpiCommand& command)
{
    if (!TakesOne(command)) {
        return false;
    }
    for (int row = 0; row < kWaveformCount; ++row) {
        if (MatchesMnemonic(command.parameters.front(), kFunctions[row])) {
            m_window.m_selection = row;
            Apply();
            return true;
        }
    }
    Queue(scpi::kIllegalParameterValue, "unknown function " + command.parameters.front());
    return false;
}

bool ScpiInstrument::SetFrequency(const ScpiCommand& command)
{
    if (!TakesOne(command)) {
        return false;
    }
    const std::string& text = command.parameters.front();
    double hertz = 0.0;
    std::string typed;
    if (MatchesMnemonic(text, "MINimum") || MatchesMnemonic(text, "MAXimum")) {
        hertz =
            MatchesMnemonic(text, "MINimum") ? m_dialog.m_minFrequency : m_dialog.m_maxFrequency;
    } else if (const int error = ParseFrequency(text, hertz, &typed); error != 0) {
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
    // Typed into the box as given (so it reads, and is corrected, exactly as
    // the window's box would), or, scaled by a suffix, the shortest text
    // that reads back the same.
    m_window.m_frequencyText = typed.empty() ? Number("%.17g", hertz) : typed;
    Apply();
    return true;
}

bool ScpiInstrument::SetOutput(const ScpiCommand& command)
{
    if (!TakesOne(command)) {
        return false;
    }
    const std::string& value = command.parameters.front();
    const bool on = MatchesMnemonic(value, "ON") || value == "1";
    if (!on && !MatchesMnemonic(value, "OFF") && value != "0") {
        Queue(scpi::kIllegalParameterValue, "not ON, OFF, 1 or 0: " + value);
        return false;
    }
    m_on = on;
    if (m_on) {
        Apply();
    } else {
        m_dialog.OnStop();
    }
    return true;
}

void ScpiInstrument::Reset()
{
    SwitchOff();
    m_dialog.OnInitDialog();
}

void ScpiInstrument::SwitchOff()
{
    m_on = false;
    m_dialog.OnStop();
}

void ScpiInstrument::Apply()
{
    m_dialog.OnStop();  // through the output that opened it
    m_output.SetTarget(m_on ? m_device : static_cast<IWaveOut&>(m_silent));
    m_dialog.OnOK();
    if (!m_on) {
        m_dialog.OnStop();
    } else if (m_dialog.m_waveOut == nullptr) {
        m_on = false;  // refused, or the device would not open: nothing plays
    }
}

void ScpiInstrument::OnOutputChange()
{
    m_dialog.OnOutputChange();
    if (m_on && IWaveOut::Status(m_dialog.m_waveOut).state == OutputState::Lost) {
        SwitchOff();
        Queue(scpi::kHardwareMissing, "the output device was lost; " + m_failure);
    }
}

// Each message box of the window, with its exact text, as an error.
void ScpiInstrument::OnMessage(const char* text)
{
    const std::string_view message = text;
    if (message == "Illegal frequency") {
        Queue(scpi::kIllegalParameterValue, text);
    } else if (StartsWith(message, "Frequency is too high") ||
               StartsWith(message, "That was too low") ||
               message == "The highest frequency is too high.") {
        Queue(scpi::kDataOutOfRange, text);
    } else if (StartsWith(message, "fail to open waveOutDevice")) {
        Queue(scpi::kHardwareMissing, text);
    } else if (message == "cannot open wave out device") {
        Queue(scpi::kHardwareMissing, std::string(text) + "; " + m_failure);
    } else {
        Queue(scpi::kSettingsConflict, text);  // the synthesis refused the settings
    }
}

void ScpiInstrument::Queue(int code, const std::string& detail)
{
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

std::string ScpiInstrument::NextError()
{
    if (m_errors.empty()) {
        return "0,\"No error\"";
    }
    const auto [code, text] = m_errors.front();
    m_errors.pop_front();
    return std::to_string(code) + "," + Quoted(text);
}

int ScpiInstrument::StatusByte() const
{
    return (m_errors.empty() ? 0 : kErrorAvailable) |
           ((m_eventStatus & m_eventEnable) != 0 ? kEventSummary : 0);
}
