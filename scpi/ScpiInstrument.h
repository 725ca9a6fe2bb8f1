#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CWaveGeneratorDialog.h"
#include "ConsoleDialogWindow.h"
#include "ITickSource.h"
#include "IWaveOut.h"
#include "ScpiParser.h"

// One client's place in the command tree: a command without a leading ":"
// continues the path of the one before it on the same line.
struct ScpiSession {
    std::vector<std::string> path;
};

// The generator as a SCPI instrument. Settings go to the dialog as typed
// values, and the dialog decides: switching the output on is the window's
// Start, with every check, correction and refusal; a new function,
// frequency or amplitude is checked and corrected the same way, then
// switched in gaplessly while the output plays, kept while it is off or its
// device is lost, or refused with nothing changed. Each message box becomes
// an entry of the error queue. The same setting again changes nothing.
// Every client shares the one state and error queue.
class ScpiInstrument {
public:
    static constexpr std::size_t kErrorQueueSize = 16;
    // IEEE 488.2's limit for an error's text.
    static constexpr std::size_t kMostErrorText = 255;
    // The peak-to-peak voltage of a full-scale sine unless told otherwise.
    static constexpr double kDefaultFullScale = 2.0;
    // The QUEStionable condition while the sound device is lost.
    static constexpr int kNoSound = 1 << 9;

    ScpiInstrument(IWaveOut& device, ITickSource& ticks, double fullScaleVpp = kDefaultFullScale);
    ~ScpiInstrument() { SwitchOff(); }
    ScpiInstrument(const ScpiInstrument&) = delete;
    ScpiInstrument& operator=(const ScpiInstrument&) = delete;

    // Runs one program message (a line without its terminator); returns the
    // response line, the answers of its queries joined by ";", or "" when it
    // asked nothing.
    std::string Execute(std::string_view line, ScpiSession& session);
    std::string Execute(std::string_view line) { return Execute(line, m_session); }
    // A line longer than the server takes: its error.
    void TooLong() { Queue(scpi::kTooMuchData); }
    // A read with no answer to give, and answers left unread when the
    // next message came: their errors.
    void QueryUnterminated() { Queue(scpi::kQueryUnterminated); }
    void QueryInterrupted() { Queue(scpi::kQueryInterrupted); }
    // The status byte, with MAV (bit 4) when the asker has an answer waiting.
    int StatusByte(bool messageAvailable = false) const;
    // The output changed on its own: lost (it stays on, and the device is
    // opened again) or back.
    void OnOutputChange();
    // Output off, as the server ends.
    void SwitchOff();

    struct Header;

private:
    static const std::vector<Header>& Headers();
    bool Run(const ScpiCommand& command, ScpiSession& session, std::string& answer);
    bool RunCommon(const ScpiCommand& command, std::string& answer);

    // The headers' handlers: a setting, or a query's answer; false when it
    // failed (its error is queued).
    bool SetFunction(const ScpiCommand& command);
    bool AskFunction(const ScpiCommand& command, std::string& answer);
    bool SetFrequency(const ScpiCommand& command);
    bool AskFrequency(const ScpiCommand& command, std::string& answer);
    bool SetAmplitude(const ScpiCommand& command);
    bool AskAmplitude(const ScpiCommand& command, std::string& answer);
    bool SetUnit(const ScpiCommand& command);
    bool AskUnit(const ScpiCommand& command, std::string& answer);
    bool SetOffset(const ScpiCommand& command);
    bool AskOffset(const ScpiCommand& command, std::string& answer);
    bool AskRange(const ScpiCommand& command, std::string& answer);
    bool SetOutput(const ScpiCommand& command);
    bool AskOutput(const ScpiCommand& command, std::string& answer);
    bool SetLoad(const ScpiCommand& command);
    bool AskLoad(const ScpiCommand& command, std::string& answer);
    bool Apply(const ScpiCommand& command, int function);
    bool AskApply(const ScpiCommand& command, std::string& answer);
    bool AskError(const ScpiCommand& command, std::string& answer);
    bool AskErrorCount(const ScpiCommand& command, std::string& answer);
    bool AskVersion(const ScpiCommand& command, std::string& answer);
    bool AskStatusLine(const ScpiCommand& command, std::string& answer);
    bool AskEvent(const ScpiCommand& command, std::string& answer, int& event);
    bool SetEnable(const ScpiCommand& command, int& enable);
    bool Preset(const ScpiCommand& command);

    // Reading parameters; each queues its error and returns false.
    bool TakesOne(const ScpiCommand& command);
    bool TakesNone(const ScpiCommand& command);
    void QueueValueError(int error, const std::string& detail);
    bool ReadBoolean(const std::string& text, bool& value);
    bool ReadInteger(const std::string& text, int most, int& value);
    bool ReadLimitQuery(const ScpiCommand& command, double least, double most, double& value);

    void AwaitSound();
    void Reset();
    bool Change(const GeneratorSettings& next);
    void OnMessage(const std::string& text);
    void SetCondition(int& condition, int& event, int bits, bool on);
    void Queue(int code, const std::string& detail = {});
    std::string NextError();
    double MostAmplitude(int waveform) const;
    double LevelFor(double vpp, int waveform) const;

    ConsoleDialogWindow m_window;
    CWaveGeneratorDialog m_dialog;
    const double m_fullScale;
    ScpiSession m_session;  // a single client's, for Execute(line)
    bool m_on = false;
    double m_amplitude;  // peak to peak, volts
    bool m_rms = false;  // VOLT:UNIT VRMS
    double m_load = 50.0;
    std::deque<std::pair<int, std::string>> m_errors;
    int m_eventStatus = 0;    // *ESR
    int m_eventEnable = 0;    // *ESE
    int m_serviceEnable = 0;  // *SRE
    int m_operationEvent = 0;
    int m_operationEnable = 0;
    int m_questionableCondition = 0;
    int m_questionableEvent = 0;
    int m_questionableEnable = 0;
    bool m_lossQueued = false;  // -241 once per loss
    std::string m_failure;      // the device's last reason, for the next -241
};
