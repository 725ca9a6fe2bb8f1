#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "GeneratorSettings.h"
#include "GeneratorState.h"
#include "IDialogWindow.h"
#include "ITickSource.h"
#include "IWaveOut.h"
#include "TextFormat.h"

// The generator's one dialog: it owns the generator state, the PCM records
// and the output device, and its handlers implement every command. It
// reaches the window, the sound device and the clock only through the three
// interfaces it is given.
class CWaveGeneratorDialog : public GeneratorState {
public:
    CWaveGeneratorDialog(IDialogWindow& window, IWaveOut& waveOut, ITickSource& ticks);
    virtual ~CWaveGeneratorDialog() = default;

    CWaveGeneratorDialog(const CWaveGeneratorDialog&) = delete;
    CWaveGeneratorDialog& operator=(const CWaveGeneratorDialog&) = delete;

    // Runs the window modally; returns the result it ended with.
    int DoModal();
    bool OnInitDialog();

    virtual void OnOK();      // Start
    virtual void OnCancel();  // Exit
    void OnStop();
    void OnHScroll(unsigned code, unsigned position);
    // Routes a command identifier (button or key) to its handler.
    void OnCommand(int id);
    // The output changed its state on its own: the status line says when
    // the device is lost, and returns to the description once it is back.
    void OnOutputChange();
    // The Start command under way (showing a message box) ends when that box
    // closes, without playing: the program is on its way out.
    void AbandonCommand() { m_abandoned = true; }

    int GenerateWaveform();
    // The one way settings reach the output, for every front end: the
    // checks and corrections of Start with their messages, then what the
    // route and the output's state call for (see SettingsOutcome).
    SettingsOutcome ApplySettings(GeneratorSettings settings, SettingsRoute route);
    // What plays now, or, with the output off, what would play.
    GeneratorSettings Settings() const;
    // The frequency box's text and the list's row, read as Start reads them.
    GeneratorSettings SettingsFromWindow();
    // A frequency as Start reads it from the box: at most its first 79
    // characters, by the decimal grammar of atof.
    static double FrequencyFromText(const char* text);
    // 0 when the device plays, 1 when it failed to open (after both boxes),
    // kStartCancelled when the open was given up (a Stop, an Exit or a
    // stop signal while it waited): nothing plays and nothing is shown.
    int StartOutput();
    static constexpr int kStartCancelled = 2;
    // Start's last step, for a buffer just generated: StartOutput, and the
    // second message when it fails. Returns StartOutput's result.
    int StartPlaying();

    WaveFormatEx m_waveFormat;
    WaveHeader m_waveHeader;
    WaveOutHandle m_waveOut = nullptr;

    // Which message box the window was last asked to show, set before it
    // shows: a front end that turns boxes into error codes reads it, never
    // the box's wording.
    enum class Message {
        None,
        IllegalFrequency,  // no frequency above 0: nothing changed
        Correction,        // a frequency corrected to what can play
        Refusal,           // the synthesis refused the settings
        OpenFailed,        // the device would not open (first box)
        CannotOpen,        // the device would not open (second box)
    };
    Message m_lastMessage = Message::None;
    // The level the samples play at, 1 (full scale, as the window always
    // plays) down to 0, and whether the noises centre on zero: the tool's
    // and the instrument's settings beside the window's two.
    double m_level = 1.0;
    bool m_centredNoise = false;
    ShapeSettings m_shape;

    // A triggered burst or sweep, once now: the loop waiting for the
    // trigger gives way to the burst or sweep, after which its silence
    // loops until the next trigger. Not a triggered setting, nothing
    // playing, or a device that cannot: false, nothing changed.
    bool FireTrigger();
    // The loop a trigger fires, made in the sample buffer (a file of it).
    int GenerateFiredWaveform();

protected:
    // The base dialog's OK: ends the modal loop with IDOK.
    void EndWithOK();

private:
    bool CorrectSettings(const GeneratorSettings& settings);
    SettingsOutcome StartWith(const GeneratorSettings& settings);
    SettingsOutcome ChangeTo(const GeneratorSettings& settings);
    SettingsOutcome SwitchLoop(const GeneratorState& before, const ShapeSettings& beforeShape);
    static bool PhaseContinuous(int waveform, const ShapeSettings& shape);
    bool HoldLoop(std::int32_t sampleCount);
    void ShowMessage(Message kind, const char* format, std::initializer_list<FormatArg> args = {});
    bool ShowCorrection(const char* format, std::initializer_list<FormatArg> args = {});
    void ShowFrequencyInBox();
    double SteppedFrequency(unsigned code);
    void FillPlaybackRecords();
    void ShowStatus(const char* text);
    void LogFailure(const std::string& line);

    // The description the synthesis wrote, kept for when the output comes back.
    std::string m_description;
    // The loop that plays while a new one is made in the sample buffer.
    std::vector<std::int16_t> m_hold;
    // Where the loop playing now repeats from, in bytes: after a fired
    // burst or sweep, 0 for any other.
    std::uint32_t m_repeatFrom = 0;
    bool m_fired = false;  // while a fired loop is made
    bool m_abandoned = false;
    bool m_opening = false;  // while StartOutput waits for the device
    // Lost or Reopening while the status line says so, otherwise Playing.
    OutputState m_shownState = OutputState::Playing;
    // The failure last written to the log; the same one again (a retry,
    // another Start while the server is down) is not written until sound
    // has played in between.
    std::string m_loggedFailure;

    IDialogWindow& m_window;
    IWaveOut& m_device;
    ITickSource& m_ticks;
};
