#pragma once

#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CWaveGeneratorDialog.h"
#include "ConsoleDialogWindow.h"
#include "ITickSource.h"
#include "IWaveOut.h"
#include "ParameterReader.h"
#include "ScpiParser.h"
#include "ShapeCommands.h"
#include "StereoWaveOut.h"

// One client's place in the command tree (a command without a leading ":"
// continues the path of the one before it in the same message), and its
// message while that waits for the sound (*WAI, *OPC, *OPC?).
struct ScpiSession {
    std::vector<std::string> path;
    std::vector<ScpiCommand> commands;  // the message's, while it runs
    std::size_t next = 0;               // the next to run
    int parseError = 0;                 // queued once its commands have run
    std::string response;               // the answers so far
    bool indefinite = false;            // *IDN? answered: no query may follow
    std::optional<std::chrono::steady_clock::time_point> waitUntil;

    bool Waiting() const { return next < commands.size(); }
    // Gives up the message under way (a device clear, an abort).
    void Abandon() { *this = {}; }
};

// The generator as a SCPI instrument. Settings go to the dialog as typed
// values, and the dialog decides: switching the output on is the window's
// Start, with every check, correction and refusal; a new function,
// frequency or amplitude is checked and corrected the same way, then
// switched in gaplessly while the output plays, kept while it is off or its
// device is lost, or refused with nothing changed. Each message box becomes
// an entry of the error queue. The same setting again changes nothing.
// Two channels, each with a dialog of its own, play on the left and right
// of one two-channel output (StereoWaveOut). Every client shares the one
// state and error queue.
class ScpiInstrument {
public:
    static constexpr std::size_t kErrorQueueSize = 16;
    // IEEE 488.2's limit for an error's text.
    static constexpr std::size_t kMostErrorText = 255;
    // The peak-to-peak voltage of a full-scale sine unless told otherwise.
    static constexpr double kDefaultFullScale = 2.0;
    // The QUEStionable condition while the sound device is lost.
    static constexpr int kNoSound = 1 << 9;
    // The QUEStionable bit that sums up the channels' registers.
    static constexpr int kInstrumentSummary = 1 << 13;

    // `serial`: the unit's serial number, as *IDN? gives it.
    ScpiInstrument(IWaveOut& device, ITickSource& ticks, double fullScaleVpp = kDefaultFullScale,
                   std::string serial = "0");
    ~ScpiInstrument();
    ScpiInstrument(const ScpiInstrument&) = delete;
    ScpiInstrument& operator=(const ScpiInstrument&) = delete;

    // The longest a message waits for its sound to reach the device.
    static constexpr std::chrono::seconds kLongestWait{2};

    // Runs one program message (without its terminator) as far as it can
    // now. True when it has ended, with its response (the answers of its
    // queries joined by ";", or "" when it asked nothing); false when it
    // waits for the sound to reach the device: Continue it later, while
    // other clients are served. A command error ends a message; an
    // execution error does not.
    bool Begin(std::string_view message, ScpiSession& session, std::string& response);
    bool Continue(ScpiSession& session, std::string& response);
    // Whether a waiting message can go on now.
    bool CanContinue(const ScpiSession& session) const;
    // Runs a message to its end, waiting here when it waits (a test's, or
    // a tool's with no other client to serve).
    std::string Execute(std::string_view line, ScpiSession& session);
    std::string Execute(std::string_view line) { return Execute(line, m_session); }
    // An answer left unread when another message came, and a read with no
    // answer coming: their errors.
    void QueryInterrupted() { Queue(scpi::kQueryInterrupted); }
    void QueryUnterminated() { Queue(scpi::kQueryUnterminated); }
    // A message longer than the server takes: its error.
    void TooLong() { Queue(scpi::kTooMuchData); }
    // The status byte, with MAV (bit 4) when the asker has an answer waiting.
    int StatusByte(bool messageAvailable = false) const;
    // The output changed on its own: lost (it stays on, and the device is
    // opened again) or back.
    void OnOutputChange();
    // Output off, as the server ends.
    void SwitchOff();
    // For a front panel: the errors queued (oldest first), left queued, and
    // the loop channel `index` (0 or 1) plays now (empty while silent).
    const std::deque<std::pair<int, std::string>>& Errors() const { return m_errors; }
    const std::vector<std::int16_t>& PlayingLoop(int index) const { return m_output.Loop(index); }

    struct Header;
    enum class AmplitudeUnit { Vpp, Vrms, Dbm };

private:
    struct Channel;
    // A SCPI status register: a condition sets its event bits as it rises
    // (positive transition filter) or falls (negative).
    struct StatusRegister {
        int condition = 0;
        int event = 0;
        int enable = 0;
        int positive = 32767;
        int negative = 0;
        void Set(int bits, bool on);
    };

    static const std::vector<Header>& Headers();
    static void AddRegisterHeaders(std::vector<Header>& table, const std::string& name,
                                   StatusRegister& (*reg)(ScpiInstrument&));
    bool Run(const ScpiCommand& command, ScpiSession& session, std::string& answer);
    bool RunCommon(const ScpiCommand& command, std::string& answer);

    // The headers' handlers: a setting, or a query's answer; false when it
    // failed (its error is queued).
    static int FunctionNamed(const std::string& text);
    std::string FunctionName() const;
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
    bool Apply(const ScpiCommand& command, const char* function);
    bool AskApply(const ScpiCommand& command, std::string& answer);
    bool AskError(const ScpiCommand& command, std::string& answer, bool codeOnly);
    bool AskAllErrors(const ScpiCommand& command, std::string& answer, bool codeOnly);
    bool AskErrorCount(const ScpiCommand& command, std::string& answer);
    bool AskVersion(const ScpiCommand& command, std::string& answer);
    bool AskStatusLine(const ScpiCommand& command, std::string& answer);
    bool SetEnable(const ScpiCommand& command, int& enable);
    bool Preset(const ScpiCommand& command);

    bool SoundAtDevice() const;
    bool RunMessage(ScpiSession& session, std::string& response);
    void Reset();
    void SwitchOff(Channel& channel);
    void ShowLoss();
    bool Change(const GeneratorSettings& next);
    void OnMessage(int channel, const std::string& text);
    void Queue(int code, const std::string& detail = {});
    std::string NextError(bool codeOnly = false);
    double MostAmplitude(int waveform) const;
    double LevelFor(double vpp, int waveform) const;
    double PeakToRms(int waveform) const;
    double ToVpp(double value, AmplitudeUnit unit) const;
    double FromVpp(double vpp, AmplitudeUnit unit) const;
    void SetVpp(double vpp);
    bool DbmAllowed();
    enum class Bound { None, High, Low };
    bool SetLevel(const ScpiCommand& command, Bound bound);
    bool AskLevel(const ScpiCommand& command, std::string& answer, Bound bound);

    // One output channel: its dialog, with the window that turns the
    // dialog's boxes into errors, its shapes' headers and its level.
    struct Channel {
        Channel(ScpiInstrument& instrument, int index, IWaveOut& output, ITickSource& ticks);
        ConsoleDialogWindow window;
        CWaveGeneratorDialog dialog;
        ShapeCommands shapes;
        bool on = false;
        double amplitude;  // peak to peak, volts
        AmplitudeUnit unit = AmplitudeUnit::Vpp;
        Bound boundSet = Bound::None;  // the level HIGH or LOW set last, alone
        double load = 50.0;
        bool userName = false;   // the arbitrary function was named USER
        StatusRegister summary;  // STATus:QUEStionable:INSTrument:ISUMmary<n>
    };
    Channel& Ch() { return *m_channels[static_cast<std::size_t>(m_current)]; }
    const Channel& Ch() const { return *m_channels[static_cast<std::size_t>(m_current)]; }
    // The channel a header names by its numeric suffixes (0 or 1); -1 for a
    // suffix that names none, its error queued.
    int ChannelOf(const std::vector<std::string>& typed);
    void FollowChannel1();
    bool LoopsFit(const GeneratorSettings& next, bool plays);
    void Couple();
    bool SetCoupling(const ScpiCommand& command, bool& coupled);
    bool AskCoupling(const ScpiCommand& command, std::string& answer, bool coupled);
    bool SetCouplingMode(const ScpiCommand& command);
    bool AskCouplingMode(const ScpiCommand& command, std::string& answer);
    bool SetCouplingValue(const ScpiCommand& command, double& value, bool ratio);
    bool AskCouplingValue(const ScpiCommand& command, std::string& answer, double value,
                          bool ratio);
    bool SetTrack(const ScpiCommand& command);
    bool AskTrack(const ScpiCommand& command, std::string& answer);

    ParameterReader m_read;
    const double m_fullScale;
    const std::string m_serial;
    ArbitraryStore m_store;
    StereoWaveOut m_output;
    std::array<std::unique_ptr<Channel>, StereoWaveOut::kChannels> m_channels;
    int m_current = 0;  // the channel the running command addresses
    enum class Track { Off, On, Inverted };
    Track m_track = Track::Off;  // channel 2 follows channel 1
    // FREQuency:COUPle and VOLTage:COUPle: each channel follows the other.
    bool m_frequencyCoupled = false;
    bool m_levelCoupled = false;
    bool m_ratioMode = true;  // channel 2 = channel 1 times the ratio, or plus the offset
    double m_frequencyRatio = 1.0;
    double m_frequencyOffset = 0.0;
    ScpiSession m_session;  // a single client's, for Execute(line)
    std::deque<std::pair<int, std::string>> m_errors;
    int m_eventStatus = 0;    // *ESR
    int m_eventEnable = 0;    // *ESE
    int m_serviceEnable = 0;  // *SRE
    StatusRegister m_operation;
    StatusRegister m_questionable;
    StatusRegister m_instrumentSummary;  // STATus:QUEStionable:INSTrument
    bool m_lossQueued = false;           // -241 once per loss
    bool m_commandError = false;         // a command error queued: the message ends
    std::string m_failure;               // the device's last reason, for the next -241
};
