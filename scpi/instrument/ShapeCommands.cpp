#include "ShapeCommands.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "SampleBuffer.h"
#include "WaveformSynthesis.h"

namespace {

using Limits = ParameterReader::Limits;
constexpr double kRate = kDefaultSampleRate;
constexpr double kSample = 1 / kRate;  // the shortest time the output knows
constexpr double kMostPulsePeriod = 1000.0;
constexpr std::int32_t kMostBurstCycles = 100000;
// The longest burst period and sweep: the buffer, less a trigger's silence.
constexpr double kMostLoopSeconds = (kSampleBufferCapacity - kTriggerIdleSamples) / kRate;
constexpr double kLeastLoopSeconds = 0.001;
constexpr double kDefaultBurstPeriod = 0.01;
constexpr double kDefaultSweepStart = 100.0;
constexpr double kDefaultSweepStop = 1000.0;
constexpr double kDefaultSweepTime = 1.0;
constexpr double kDegreesPerTurn = 360.0;
constexpr double kInfinity = 9.9e37;  // SCPI's INFinity

constexpr const char* kTriggerSources[] = {"IMM", "BUS", "TIM"};
constexpr const char* kRemoteStates[] = {"LOC", "REM", "RWL"};

const ParameterReader::Suffixes kSeconds = {{"S", 1.0}, {"MS", 1e-3}, {"US", 1e-6}, {"NS", 1e-9}};

bool Is(const std::string& text, const char* mnemonic)
{
    return MatchesMnemonic(text, mnemonic);
}

// A SCPI string parameter's text: its quotes taken off, doubled ones undone.
bool Unquoted(const std::string& text, std::string& inside)
{
    if (text.size() < 2 || (text.front() != '"' && text.front() != '\'') ||
        text.back() != text.front()) {
        return false;
    }
    inside.clear();
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        inside += text[i];
        if (text[i] == text.front()) {
            ++i;  // a doubled quote is one
        }
    }
    return true;
}

}  // namespace

ShapeCommands::ShapeCommands(CWaveGeneratorDialog& dialog, ParameterReader& read,
                             ArbitraryStore& store, Change change, QueueError queue,
                             std::function<bool()> synchronize)
    : m_dialog(dialog),
      m_read(read),
      m_change(std::move(change)),
      m_queue(std::move(queue)),
      m_store(store),
      m_synchronize(std::move(synchronize))
{
}

const std::vector<ShapeCommands::Header>& ShapeCommands::Headers()
{
    using S = ShapeCommands;
    static const std::vector<Header> headers = [] {
        const std::pair<const char*, Header> rows[] = {
            {"[SOURce:]FUNCtion:RAMP:SYMMetry", {{}, &S::SetSymmetry, &S::AskSymmetry}},
            {"[SOURce:]FUNCtion:SQUare:DCYCle", {{}, &S::SetDutyCycle, &S::AskDutyCycle}},
            {"[SOURce:][FUNCtion:]PULSe:WIDTh", {{}, &S::SetPulseWidth, &S::AskPulseWidth}},
            {"[SOURce:][FUNCtion:]PULSe:PERiod", {{}, &S::SetPulsePeriod, &S::AskPulsePeriod}},
            {"[SOURce:][FUNCtion:]PULSe:DCYCle",
             {{}, &S::SetPulseDutyCycle, &S::AskPulseDutyCycle}},
            {"[SOURce:][FUNCtion:]PULSe:TRANsition[:BOTH]",
             {{}, &S::SetPulseEdge, &S::AskPulseEdge}},
            {"[SOURce:][FUNCtion:]PULSe:TRANsition:LEADing",
             {{}, &S::SetPulseEdge, &S::AskPulseEdge}},
            {"[SOURce:][FUNCtion:]PULSe:TRANsition:TRAiling",
             {{}, &S::SetPulseEdge, &S::AskPulseEdge}},
            {"[SOURce:][FUNCtion:]PULSe:HOLD", {{}, &S::SetPulseHold, &S::AskPulseHold}},
            {"OUTPut:POLarity", {{}, &S::SetPolarity, &S::AskPolarity}},
            {"[SOURce:]PHASe[:ADJust]", {{}, &S::SetPhase, &S::AskPhase}},
            {"[SOURce:]PHASe:SYNChronize", {{}, &S::Synchronize, nullptr}},
            {"[SOURce:]PHASe:INITiate", {{}, &S::Synchronize, nullptr}},
            {"UNIT:ANGLe", {{}, &S::SetAngleUnit, &S::AskAngleUnit}},
            {"[SOURce:]BURSt:STATe", {{}, &S::SetBurstState, &S::AskBurstState}},
            {"[SOURce:]BURSt:MODE", {{}, &S::SetBurstMode, &S::AskBurstMode}},
            {"[SOURce:]BURSt:NCYCles", {{}, &S::SetBurstCycles, &S::AskBurstCycles}},
            {"[SOURce:]BURSt:INTernal:PERiod", {{}, &S::SetBurstPeriod, &S::AskBurstPeriod}},
            {"[SOURce:]BURSt:PHASe", {{}, &S::SetBurstPhase, &S::AskBurstPhase}},
            {"TRIGger:SOURce", {{}, &S::SetTriggerSource, &S::AskTriggerSource}},
            {"TRIGger[:IMMediate]", {{}, &S::TriggerNow, nullptr}},
            {"OUTPut:SYNC[:STATe]", {{}, &S::SetNoOutput, &S::AskOff}},
            {"OUTPut:TRIGger[:STATe]", {{}, &S::SetNoOutput, &S::AskOff}},
            {"[SOURce:]SWEep:STATe", {{}, &S::SetSweepState, &S::AskSweepState}},
            {"[SOURce:]SWEep:TIME", {{}, &S::SetSweepTime, &S::AskSweepTime}},
            {"[SOURce:]SWEep:SPACing", {{}, &S::SetSweepSpacing, &S::AskSweepSpacing}},
            {"[SOURce:]FREQuency:STARt", {{}, &S::SetStart, &S::AskStart}},
            {"[SOURce:]FREQuency:STOP", {{}, &S::SetStop, &S::AskStop}},
            {"[SOURce:]FREQuency:CENTer", {{}, &S::SetCenter, &S::AskCenter}},
            {"[SOURce:]FREQuency:SPAN", {{}, &S::SetSpan, &S::AskSpan}},
            {"[SOURce:]DATA[:ARBitrary]", {{}, &S::SetData, nullptr}},
            {"[SOURce:]DATA[:ARBitrary]:DAC", {{}, &S::SetDacData, nullptr}},
            {"[SOURce:]DATA:COPY", {{}, &S::CopyData, nullptr}},
            {"[SOURce:]DATA:CATalog", {{}, nullptr, &S::AskCatalog}},
            {"[SOURce:]DATA:VOLatile:CATalog", {{}, nullptr, &S::AskCatalog}},
            {"[SOURce:]DATA:VOLatile:CLEar", {{}, &S::ClearVolatile, nullptr}},
            {"[SOURce:]DATA:DELete", {{}, &S::DeleteData, nullptr}},
            {"[SOURce:]DATA:ATTRibute:POINts", {{}, nullptr, &S::AskPoints}},
            {"[SOURce:]FUNCtion:ARBitrary:POINts", {{}, nullptr, &S::AskPoints}},
            {"FORMat:BORDer", {{}, &S::SetByteOrder, &S::AskByteOrder}},
            {"[SOURce:]FUNCtion:ARBitrary", {{}, &S::SelectArbitrary, &S::AskArbitrary}},
            {"[SOURce:]FUNCtion:USER", {{}, &S::SelectArbitrary, &S::AskArbitrary}},
            {"[SOURce:]FUNCtion:ARBitrary:SRATe", {{}, &S::SetPointRate, &S::AskPointRate}},
            {"[SOURce:]FUNCtion:ARBitrary:ADVance", {{}, &S::SetAdvance, &S::AskAdvance}},
            {"[SOURce:]FUNCtion:ARBitrary:FILTer", {{}, &S::SetFilter, &S::AskFilter}},
            {"SYSTem:BEEPer[:IMMediate]", {{}, &S::Beep, nullptr}},
            {"SYSTem:BEEPer:STATe", {{}, &S::SetBeeper, &S::AskBeeper}},
            {"DISPlay[:WINDow]:TEXT[:DATA]", {{}, &S::SetDisplayText, &S::AskDisplayText}},
            {"DISPlay[:WINDow]:TEXT:CLEar", {{}, &S::ClearDisplayText, nullptr}},
            {"DISPlay[:WINDow][:STATe]", {{}, &S::SetDisplay, &S::AskDisplay}},
            {"SYSTem:REMote", {{}, &S::SetRemote, nullptr}},
            {"SYSTem:LOCal", {{}, &S::SetRemote, nullptr}},
            {"SYSTem:RWLock", {{}, &S::SetRemote, nullptr}},
            {"SYSTem:COMMunicate:RLSTate", {{}, &S::SetRemote, &S::AskRemote}},
        };
        std::vector<Header> table;
        for (const auto& [pattern, header] : rows) {
            table.push_back(header);
            table.back().pattern = ParseHeaderPattern(pattern);
        }
        return table;
    }();
    return headers;
}

const ShapeCommands::Header* ShapeCommands::Find(const std::vector<std::string>& names)
{
    for (const Header& header : Headers()) {
        if (MatchesHeader(names, header.pattern)) {
            return &header;
        }
    }
    return nullptr;
}

void ShapeCommands::Reset()
{
    m_selected.clear();
    m_holdDutyCycle = false;
    m_radians = false;
    m_triggerSource = 0;
    m_swapped = false;
    m_displayText.clear();
    m_display = true;
    m_triggeredLength = {};
}

// A setting of the shape, decided by the dialog as every setting is; the
// message goes on after a refusal (its error is queued).
bool ShapeCommands::Edit(const std::function<void(GeneratorSettings&)>& edit)
{
    GeneratorSettings next = m_dialog.Settings();
    edit(next);
    if (next != m_dialog.Settings()) {
        m_change(next);
    }
    return true;
}

bool ShapeCommands::AskValue(const ScpiCommand& command, std::string& answer, double value,
                             Limits limits)
{
    if (!m_read.ReadLimitQuery(command, limits, value)) {
        return false;
    }
    answer = ScpiNumber(value);
    return true;
}

bool ShapeCommands::AskWord(const ScpiCommand& command, std::string& answer,
                            const std::string& word)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer = word;
    return true;
}

bool ShapeCommands::Refuse(const char* reason)
{
    m_queue(scpi::kSettingsConflict, reason);
    return true;  // an execution error: the message goes on
}

// --- the shapes' parameters ---

bool ShapeCommands::SetSymmetry(const ScpiCommand& command)
{
    double percent = 0.0;
    return m_read.ReadSetting(command, {0.0, 100.0, 100.0}, {{"PCT", 1.0}}, "symmetry", "%",
                              percent) &&
           Edit([&](GeneratorSettings& s) { s.shape.symmetry = percent; });
}

bool ShapeCommands::AskSymmetry(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, Shape().symmetry, {0.0, 100.0, 100.0});
}

// Each part of the cycle at least one sample long.
bool ShapeCommands::SetDutyCycle(const ScpiCommand& command)
{
    const double p = m_dialog.m_frequency / kRate;
    double percent = 0.0;
    return m_read.ReadSetting(command, {100 * p, 100 * (1 - p), 50.0}, {{"PCT", 1.0}},
                              "duty cycle at this frequency", "%", percent) &&
           Edit([&](GeneratorSettings& s) { s.shape.dutyCycle = percent; });
}

bool ShapeCommands::AskDutyCycle(const ScpiCommand& command, std::string& answer)
{
    const double p = m_dialog.m_frequency / kRate;
    return AskValue(command, answer, Shape().dutyCycle, {100 * p, 100 * (1 - p), 50.0});
}

double ShapeCommands::PulseWidth() const
{
    return Shape().pulseWidth > 0.0 ? Shape().pulseWidth : Period() / 100;
}

// From one sample to the period less an edge.
bool ShapeCommands::SetPulseWidth(const ScpiCommand& command)
{
    const double most = std::max(kSample, Period() - Shape().pulseEdge);
    double seconds = 0.0;
    return m_read.ReadSetting(command, {kSample, most, Period() / 100}, kSeconds, "pulse width",
                              "s", seconds) &&
           Edit([&](GeneratorSettings& s) { s.shape.pulseWidth = seconds; });
}

bool ShapeCommands::AskPulseWidth(const ScpiCommand& command, std::string& answer)
{
    const double most = std::max(kSample, Period() - Shape().pulseEdge);
    return AskValue(command, answer, PulseWidth(), {kSample, most, Period() / 100});
}

bool ShapeCommands::SetPulsePeriod(const ScpiCommand& command)
{
    double seconds = 0.0;
    if (!m_read.ReadSetting(command,
                            {1 / m_dialog.m_maxFrequency, kMostPulsePeriod, 1 / kDefaultFrequency},
                            kSeconds, "pulse period", "s", seconds)) {
        return false;
    }
    return Edit([&](GeneratorSettings& s) {
        s.frequency = 1 / seconds;
        FollowFrequency(s);
    });
}

bool ShapeCommands::AskPulsePeriod(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, Period(),
                    {1 / m_dialog.m_maxFrequency, kMostPulsePeriod, 1 / kDefaultFrequency});
}

bool ShapeCommands::SetPulseDutyCycle(const ScpiCommand& command)
{
    const double f = m_dialog.m_frequency;
    double percent = 0.0;
    if (!m_read.ReadSetting(command, {100 * kSample * f, 100 * (1 - Shape().pulseEdge * f), 1.0},
                            {{"PCT", 1.0}}, "pulse duty cycle", "%", percent)) {
        return false;
    }
    return Edit([&](GeneratorSettings& s) { s.shape.pulseWidth = percent / 100 / f; });
}

bool ShapeCommands::AskPulseDutyCycle(const ScpiCommand& command, std::string& answer)
{
    const double f = m_dialog.m_frequency;
    return AskValue(command, answer, 100 * PulseWidth() * f,
                    {100 * kSample * f, 100 * (1 - Shape().pulseEdge * f), 1.0});
}

// Both edges take the same time, from one sample (a step) to the width.
bool ShapeCommands::SetPulseEdge(const ScpiCommand& command)
{
    double seconds = 0.0;
    return m_read.ReadSetting(command, {kSample, std::max(kSample, PulseWidth()), kSample},
                              kSeconds, "edge time", "s", seconds) &&
           Edit([&](GeneratorSettings& s) {
               s.shape.pulseEdge = seconds;
               if (s.shape.pulseWidth == 0.0 && seconds > kSample) {
                   s.shape.pulseWidth = PulseWidth();  // the 1:100 width, held from now
               }
           });
}

bool ShapeCommands::AskPulseEdge(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, Shape().pulseEdge,
                    {kSample, std::max(kSample, PulseWidth()), kSample});
}

bool ShapeCommands::SetPulseHold(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"WIDTh", "DCYCle"}, row)) {
        return false;
    }
    m_holdDutyCycle = row == 1;
    return true;
}

bool ShapeCommands::AskPulseHold(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, m_holdDutyCycle ? "DCYC" : "WIDT");
}

double ShapeCommands::MostFrequency() const
{
    const double most = m_dialog.m_maxFrequency;
    switch (m_dialog.m_waveform) {
    case kPulse:
        return std::min(most, Shape().pulseWidth > 0.0
                                  ? 1 / (Shape().pulseWidth + Shape().pulseEdge)
                                  : kRate / 100);
    case kSquare:
        return std::min(most, kRate * std::min(Shape().dutyCycle, 100 - Shape().dutyCycle) / 100);
    default:
        return most;
    }
}

void ShapeCommands::FollowFrequency(GeneratorSettings& next) const
{
    if (m_holdDutyCycle && next.shape.pulseWidth > 0.0) {
        next.shape.pulseWidth *= m_dialog.m_frequency / next.frequency;
    }
}

bool ShapeCommands::SetPolarity(const ScpiCommand& command)
{
    int row = 0;
    return m_read.ReadChoice(command, {"NORMal", "INVerted"}, row) &&
           Edit([&](GeneratorSettings& s) { s.shape.inverted = row == 1; });
}

bool ShapeCommands::AskPolarity(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, Shape().inverted ? "INV" : "NORM");
}

double ShapeCommands::AngleScale() const
{
    return m_radians ? 2 * std::numbers::pi / kDegreesPerTurn : 1.0;
}

// -360 to 360 degrees, the waveform against its time origin.
bool ShapeCommands::SetPhase(const ScpiCommand& command)
{
    const double turn = kDegreesPerTurn * AngleScale();
    double angle = 0.0;
    return m_read.ReadSetting(command, {-turn, turn, 0.0}, {}, "phase", m_radians ? "RAD" : "DEG",
                              angle) &&
           Edit([&](GeneratorSettings& s) { s.shape.phase = angle / AngleScale(); });
}

bool ShapeCommands::AskPhase(const ScpiCommand& command, std::string& answer)
{
    const double turn = kDegreesPerTurn * AngleScale();
    return AskValue(command, answer, Shape().phase * AngleScale(), {-turn, turn, 0.0});
}

bool ShapeCommands::SetAngleUnit(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"DEGree", "RADian"}, row)) {
        return false;
    }
    m_radians = row == 1;
    return true;
}

bool ShapeCommands::AskAngleUnit(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, m_radians ? "RAD" : "DEG");
}

// Both channels again from the start of the loop, each at its phase.
bool ShapeCommands::Synchronize(const ScpiCommand& command)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    m_synchronize();  // (nothing to line up while nothing plays)
    return true;
}

// --- bursts and triggers ---

bool ShapeCommands::SetBurstState(const ScpiCommand& command)
{
    bool on = false;
    return m_read.TakesOne(command) && m_read.ReadBoolean(command.parameters.front(), on) &&
           Edit([&](GeneratorSettings& s) {
               s.shape.burst = on;
               s.shape.sweep = s.shape.sweep && !on;  // one or the other, as on bench generators
           });
}

bool ShapeCommands::AskBurstState(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, Shape().burst ? "1" : "0");
}

bool ShapeCommands::SetBurstMode(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"TRIGgered", "GATed"}, row)) {
        return false;
    }
    return row == 0 || Refuse("no gate input: bursts are triggered (BUS) or repeat (IMMediate)");
}

bool ShapeCommands::AskBurstMode(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, "TRIG");
}

bool ShapeCommands::SetBurstCycles(const ScpiCommand& command)
{
    double cycles = 0.0;
    if (!m_read.TakesOne(command)) {
        return false;
    }
    if (Is(command.parameters.front(), "INFinity")) {
        return Edit([&](GeneratorSettings& s) { s.shape.burstCycles = 0; });
    }
    return m_read.ReadSetting(command, {1.0, kMostBurstCycles, 1.0}, {}, "cycle count", "cycles",
                              cycles) &&
           Edit([&](GeneratorSettings& s) {
               s.shape.burstCycles = static_cast<std::int32_t>(std::round(cycles));
           });
}

bool ShapeCommands::AskBurstCycles(const ScpiCommand& command, std::string& answer)
{
    if (command.parameters.empty() && Shape().burstCycles == 0) {
        answer = ScpiNumber(kInfinity);
        return true;
    }
    return AskValue(command, answer, Shape().burstCycles, {1.0, kMostBurstCycles, 1.0});
}

bool ShapeCommands::SetBurstPeriod(const ScpiCommand& command)
{
    double seconds = 0.0;
    return m_read.ReadSetting(command, {kLeastLoopSeconds, kMostLoopSeconds, kDefaultBurstPeriod},
                              kSeconds, "burst period", "s", seconds) &&
           Edit([&](GeneratorSettings& s) { s.shape.burstPeriod = seconds; });
}

bool ShapeCommands::AskBurstPeriod(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, Shape().burstPeriod,
                    {kLeastLoopSeconds, kMostLoopSeconds, kDefaultBurstPeriod});
}

bool ShapeCommands::SetBurstPhase(const ScpiCommand& command)
{
    const double turn = kDegreesPerTurn * AngleScale();
    double angle = 0.0;
    return m_read.ReadSetting(command, {-turn, turn, 0.0}, {}, "burst phase",
                              m_radians ? "RAD" : "DEG", angle) &&
           Edit([&](GeneratorSettings& s) { s.shape.burstPhase = angle / AngleScale(); });
}

bool ShapeCommands::AskBurstPhase(const ScpiCommand& command, std::string& answer)
{
    const double turn = kDegreesPerTurn * AngleScale();
    return AskValue(command, answer, Shape().burstPhase * AngleScale(), {-turn, turn, 0.0});
}

// IMMediate and TIMer repeat a burst every period (a sweep at its end);
// BUS waits for *TRG.
bool ShapeCommands::SetTriggerSource(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"IMMediate", "BUS", "TIMer", "EXTernal"}, row)) {
        return false;
    }
    if (row == 3) {
        return Refuse("no trigger input: the source is IMMediate, TIMer or BUS");
    }
    m_triggerSource = row;
    return Edit([&](GeneratorSettings& s) { s.shape.triggered = row == 1; });
}

bool ShapeCommands::AskTriggerSource(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, kTriggerSources[m_triggerSource]);
}

bool ShapeCommands::TriggerNow(const ScpiCommand& command)
{
    return m_read.TakesNone(command) && Trigger();
}

bool ShapeCommands::Trigger()
{
    const ShapeSettings& shape = Shape();
    if (!shape.triggered || !(shape.burst || shape.sweep)) {
        m_queue(scpi::kTriggerIgnored, "no burst or sweep waits for a BUS trigger");
        return true;
    }
    if (!m_dialog.FireTrigger()) {
        m_queue(scpi::kTriggerIgnored,
                m_dialog.m_waveOut == nullptr
                    ? "the output is off"
                    : "a triggered burst or sweep plays while the other channel is off");
        return true;
    }
    m_triggeredLength = std::chrono::milliseconds(
        static_cast<long>(1000.0 * m_dialog.m_sampleCount / m_dialog.m_sampleRate));
    return true;
}

bool ShapeCommands::SetNoOutput(const ScpiCommand& command)
{
    bool on = false;
    if (!m_read.TakesOne(command) || !m_read.ReadBoolean(command.parameters.front(), on)) {
        return false;
    }
    return !on || Refuse("the sound card has no sync or trigger output: it stays off");
}

bool ShapeCommands::AskOff(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, "0");
}

// --- sweeps ---

bool ShapeCommands::SetSweepState(const ScpiCommand& command)
{
    bool on = false;
    return m_read.TakesOne(command) && m_read.ReadBoolean(command.parameters.front(), on) &&
           Edit([&](GeneratorSettings& s) {
               s.shape.sweep = on;
               s.shape.burst = s.shape.burst && !on;
           });
}

bool ShapeCommands::AskSweepState(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, Shape().sweep ? "1" : "0");
}

bool ShapeCommands::SetSweepTime(const ScpiCommand& command)
{
    double seconds = 0.0;
    return m_read.ReadSetting(command, {kLeastLoopSeconds, kMostLoopSeconds, kDefaultSweepTime},
                              kSeconds, "sweep time", "s", seconds) &&
           Edit([&](GeneratorSettings& s) { s.shape.sweepTime = seconds; });
}

bool ShapeCommands::AskSweepTime(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, Shape().sweepTime,
                    {kLeastLoopSeconds, kMostLoopSeconds, kDefaultSweepTime});
}

bool ShapeCommands::SetSweepSpacing(const ScpiCommand& command)
{
    int row = 0;
    return m_read.ReadChoice(command, {"LINear", "LOGarithmic"}, row) &&
           Edit([&](GeneratorSettings& s) { s.shape.logSweep = row == 1; });
}

bool ShapeCommands::AskSweepSpacing(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, Shape().logSweep ? "LOG" : "LIN");
}

namespace {

// A sweep's frequency, in the window's range, with its suffixes.
bool ReadSweepFrequency(ParameterReader& read, const ScpiCommand& command,
                        const CWaveGeneratorDialog& dialog, double byDefault, double& hertz)
{
    return read.ReadSetting(command, {dialog.m_minFrequency, dialog.m_maxFrequency, byDefault},
                            {{"HZ", 1.0}, {"KHZ", 1e3}, {"MHZ", 1e6}}, "sweep frequency", "Hz",
                            hertz);
}

}  // namespace

bool ShapeCommands::SetStart(const ScpiCommand& command)
{
    double hertz = 0.0;
    return ReadSweepFrequency(m_read, command, m_dialog, kDefaultSweepStart, hertz) &&
           Edit([&](GeneratorSettings& s) { s.shape.sweepStart = hertz; });
}

bool ShapeCommands::AskStart(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, Shape().sweepStart,
                    {m_dialog.m_minFrequency, m_dialog.m_maxFrequency, kDefaultSweepStart});
}

bool ShapeCommands::SetStop(const ScpiCommand& command)
{
    double hertz = 0.0;
    return ReadSweepFrequency(m_read, command, m_dialog, kDefaultSweepStop, hertz) &&
           Edit([&](GeneratorSettings& s) { s.shape.sweepStop = hertz; });
}

bool ShapeCommands::AskStop(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, Shape().sweepStop,
                    {m_dialog.m_minFrequency, m_dialog.m_maxFrequency, kDefaultSweepStop});
}

// The centre and the span move both ends; each end stays in range.
bool ShapeCommands::SetCenter(const ScpiCommand& command)
{
    const double half = (Shape().sweepStop - Shape().sweepStart) / 2;
    const double least = m_dialog.m_minFrequency + std::fabs(half);
    const double most = m_dialog.m_maxFrequency - std::fabs(half);
    double hertz = 0.0;
    return m_read.ReadSetting(command, {least, most, (kDefaultSweepStart + kDefaultSweepStop) / 2},
                              {{"HZ", 1.0}, {"KHZ", 1e3}}, "centre at this span", "Hz", hertz) &&
           Edit([&](GeneratorSettings& s) {
               s.shape.sweepStart = hertz - half;
               s.shape.sweepStop = hertz + half;
           });
}

bool ShapeCommands::AskCenter(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, (Shape().sweepStart + Shape().sweepStop) / 2,
                    {m_dialog.m_minFrequency, m_dialog.m_maxFrequency,
                     (kDefaultSweepStart + kDefaultSweepStop) / 2});
}

bool ShapeCommands::SetSpan(const ScpiCommand& command)
{
    const double centre = (Shape().sweepStart + Shape().sweepStop) / 2;
    const double most =
        2 * std::min(centre - m_dialog.m_minFrequency, m_dialog.m_maxFrequency - centre);
    double hertz = 0.0;
    return m_read.ReadSetting(command, {-most, most, kDefaultSweepStop - kDefaultSweepStart},
                              {{"HZ", 1.0}, {"KHZ", 1e3}}, "span at this centre", "Hz", hertz) &&
           Edit([&](GeneratorSettings& s) {
               s.shape.sweepStart = centre - hertz / 2;
               s.shape.sweepStop = centre + hertz / 2;
           });
}

bool ShapeCommands::AskSpan(const ScpiCommand& command, std::string& answer)
{
    return AskValue(command, answer, Shape().sweepStop - Shape().sweepStart,
                    {0.0, m_dialog.m_maxFrequency - m_dialog.m_minFrequency,
                     kDefaultSweepStop - kDefaultSweepStart});
}

// --- arbitrary waveforms ---

bool ShapeCommands::SetData(const ScpiCommand& command)
{
    return StoreData(command, false);
}

bool ShapeCommands::SetDacData(const ScpiCommand& command)
{
    return StoreData(command, true);
}

// name, then its values; the waveform selected under that name plays the
// new points at once.
bool ShapeCommands::StoreData(const ScpiCommand& command, bool dac)
{
    if (command.parameters.size() < 2) {
        m_queue(scpi::kMissingParameter, "a name, then the points");
        return false;
    }
    const std::string name = ArbitraryStore::NameOf(command.parameters.front());
    const std::vector<std::string> values(command.parameters.begin() + 1, command.parameters.end());
    std::string detail;
    if (const int error = m_store.Store(name, values, dac, m_swapped, detail); error != 0) {
        m_queue(error, detail);
        return error <= -200;
    }
    if (name == m_selected) {
        Edit([&](GeneratorSettings& s) { s.shape.points = m_store.Find(name); });
    }
    return true;
}

// DATA:COPY name[,VOLATILE]: the volatile waveform kept under a name.
bool ShapeCommands::CopyData(const ScpiCommand& command)
{
    if (command.parameters.empty() || command.parameters.size() > 2) {
        m_queue(command.parameters.empty() ? scpi::kMissingParameter : scpi::kParameterNotAllowed,
                {});
        return false;
    }
    const std::string from =
        command.parameters.size() == 2 ? ArbitraryStore::NameOf(command.parameters[1]) : "VOLATILE";
    const ArbitraryStore::Points points = m_store.Find(from);
    const std::string to = ArbitraryStore::NameOf(command.parameters.front());
    if (!points || to.empty()) {
        m_queue(scpi::kIllegalParameterValue, "no waveform named " + command.parameters.back());
        return true;
    }
    std::vector<std::string> values;
    for (double point : *points) {
        values.push_back(ScpiNumber(point));
    }
    std::string detail;
    if (const int error = m_store.Store(to, values, false, false, detail); error != 0) {
        m_queue(error, detail);
    }
    return true;
}

bool ShapeCommands::AskCatalog(const ScpiCommand& command, std::string& answer)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    answer.clear();
    for (const std::string& name : m_store.Names()) {
        answer += answer.empty() ? "" : ",";
        answer += ScpiString(name);
    }
    if (answer.empty()) {
        answer = ScpiString("");
    }
    return true;
}

// The waveform that plays keeps its points; it is no longer selected.
bool ShapeCommands::ClearVolatile(const ScpiCommand& command)
{
    if (!m_read.TakesNone(command)) {
        return false;
    }
    m_store.Clear();
    m_selected.clear();
    return true;
}

bool ShapeCommands::DeleteData(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    const std::string name = ArbitraryStore::NameOf(command.parameters.front());
    if (name == m_selected && m_dialog.m_waveform == kArbitrary) {
        return Refuse("the waveform plays: select another before deleting it");
    }
    if (!m_store.Delete(name)) {
        m_queue(scpi::kIllegalParameterValue, "no waveform named " + command.parameters.front());
    }
    if (name == m_selected) {
        m_selected.clear();
    }
    return true;
}

bool ShapeCommands::AskPoints(const ScpiCommand& command, std::string& answer)
{
    if (command.parameters.size() > 1) {
        m_queue(scpi::kParameterNotAllowed, {});
        return false;
    }
    const ArbitraryStore::Points points =
        command.parameters.empty() ? Shape().points
                                   : m_store.Find(ArbitraryStore::NameOf(command.parameters[0]));
    if (!points) {
        m_queue(scpi::kIllegalParameterValue, "no such waveform");
        return false;
    }
    answer = std::to_string(points->size());
    return true;
}

bool ShapeCommands::SetByteOrder(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"NORMal", "SWAPped"}, row)) {
        return false;
    }
    m_swapped = row == 1;
    return true;
}

bool ShapeCommands::AskByteOrder(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, m_swapped ? "SWAP" : "NORM");
}

bool ShapeCommands::SelectArbitrary(const ScpiCommand& command)
{
    if (!m_read.TakesOne(command)) {
        return false;
    }
    const std::string name = ArbitraryStore::NameOf(command.parameters.front());
    const ArbitraryStore::Points points = m_store.Find(name);
    if (!points) {
        std::string names;
        for (const std::string& stored : m_store.Names()) {
            names += names.empty() ? "" : ", ";
            names += stored;
        }
        m_queue(scpi::kIllegalParameterValue,
                "no waveform named " + command.parameters.front() +
                    (names.empty() ? "; none stored" : "; stored: " + names));
        return false;
    }
    m_selected = name;
    return Edit([&](GeneratorSettings& s) { s.shape.points = points; });
}

bool ShapeCommands::AskArbitrary(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, m_selected.empty() ? std::string("NONE") : m_selected);
}

// Points a second: the frequency that plays the points at that rate.
bool ShapeCommands::SetPointRate(const ScpiCommand& command)
{
    const double points = Shape().points ? static_cast<double>(Shape().points->size()) : 0.0;
    if (points == 0.0) {
        return m_read.TakesOne(command) && Refuse("no arbitrary waveform is selected");
    }
    double rate = 0.0;
    if (!m_read.ReadSetting(command,
                            {m_dialog.m_minFrequency * points, m_dialog.m_maxFrequency * points,
                             kDefaultFrequency * points},
                            {{"SA/S", 1.0}, {"KSA/S", 1e3}}, "point rate", "Sa/s", rate)) {
        return false;
    }
    return Edit([&](GeneratorSettings& s) { s.frequency = rate / points; });
}

bool ShapeCommands::AskPointRate(const ScpiCommand& command, std::string& answer)
{
    const double points = Shape().points ? static_cast<double>(Shape().points->size()) : 1.0;
    return AskValue(command, answer, m_dialog.m_frequency * points,
                    {m_dialog.m_minFrequency * points, m_dialog.m_maxFrequency * points,
                     kDefaultFrequency * points});
}

bool ShapeCommands::SetAdvance(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"SRATe", "TRIGger"}, row)) {
        return false;
    }
    return row == 0 || Refuse("the points advance at the point rate: a trigger starts a burst");
}

bool ShapeCommands::AskAdvance(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, "SRAT");
}

bool ShapeCommands::SetFilter(const ScpiCommand& command)
{
    int row = 0;
    if (!m_read.ReadChoice(command, {"NORMal", "STEP", "OFF"}, row)) {
        return false;
    }
    return row == 0 || Refuse("the points are joined by straight lines (NORMal)");
}

bool ShapeCommands::AskFilter(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, "NORM");
}

// --- what the instrument has no hardware for ---

// A computer's sound card has no beeper of the instrument's own: silent.
bool ShapeCommands::Beep(const ScpiCommand& command)
{
    return m_read.TakesNone(command);
}

bool ShapeCommands::SetBeeper(const ScpiCommand& command)
{
    return m_read.TakesOne(command) && m_read.ReadBoolean(command.parameters.front(), m_beeper);
}

bool ShapeCommands::AskBeeper(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, m_beeper ? "1" : "0");
}

constexpr std::size_t kMostDisplayText = 40;

bool ShapeCommands::SetDisplayText(const ScpiCommand& command)
{
    std::string text;
    if (!m_read.TakesOne(command)) {
        return false;
    }
    if (!Unquoted(command.parameters.front(), text)) {
        m_queue(scpi::kDataTypeError, "the text is a quoted string");
        return false;
    }
    if (text.size() > kMostDisplayText) {
        m_queue(scpi::kDataOutOfRange, "at most 40 characters");
        return false;
    }
    m_displayText = text;
    return true;
}

bool ShapeCommands::AskDisplayText(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, ScpiString(m_displayText));
}

bool ShapeCommands::ClearDisplayText(const ScpiCommand& command)
{
    m_displayText.clear();
    return m_read.TakesNone(command);
}

bool ShapeCommands::SetDisplay(const ScpiCommand& command)
{
    return m_read.TakesOne(command) && m_read.ReadBoolean(command.parameters.front(), m_display);
}

bool ShapeCommands::AskDisplay(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, m_display ? "1" : "0");
}

// SYSTem:REMote, :LOCal and :RWLock take no parameter; COMMunicate:RLSTate
// names the state. No front panel to lock: they are remembered.
bool ShapeCommands::SetRemote(const ScpiCommand& command)
{
    if (command.nodes.back() == "RLST" || MatchesMnemonic(command.nodes.back(), "RLSTate")) {
        return m_read.ReadChoice(command, {"LOCal", "REMote", "RWLock"}, m_remote);
    }
    if (!m_read.TakesNone(command)) {
        return false;
    }
    const std::string& node = command.nodes.back();
    m_remote = MatchesMnemonic(node, "LOCal") ? 0 : MatchesMnemonic(node, "REMote") ? 1 : 2;
    return true;
}

bool ShapeCommands::AskRemote(const ScpiCommand& command, std::string& answer)
{
    return AskWord(command, answer, kRemoteStates[m_remote]);
}
