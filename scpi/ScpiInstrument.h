#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CWaveGeneratorDialog.h"
#include "ConsoleDialogWindow.h"
#include "DeferredWaveOut.h"
#include "ITickSource.h"
#include "ScpiParser.h"
#include "SilentWaveOut.h"

// The generator as a SCPI instrument. A setting is what the window would
// hold (the frequency box's text, the list's row); switching the output on
// is the window's Start command, with every check, correction and refusal,
// and each message box becomes an entry of the error queue. A new function
// or frequency runs Start again: on the device while the output is on, on a
// silent output otherwise, so its corrections and refusals show at once.
class ScpiInstrument {
public:
    static constexpr std::size_t kErrorQueueSize = 16;

    ScpiInstrument(IWaveOut& device, ITickSource& ticks);
    ~ScpiInstrument() { SwitchOff(); }
    ScpiInstrument(const ScpiInstrument&) = delete;
    ScpiInstrument& operator=(const ScpiInstrument&) = delete;

    // Runs one program message (a line without its terminator); returns the
    // response line, the answers of its queries joined by ";", or "" when it
    // asked nothing.
    std::string Execute(std::string_view line);
    // A line longer than the server takes: its error.
    void TooLong() { Queue(scpi::kTooMuchData); }
    // The output changed on its own: a lost device switches it off.
    void OnOutputChange();
    // Output off, as the server ends.
    void SwitchOff();

private:
    // Runs one command; false when it failed (its error is queued).
    bool Run(const ScpiCommand& command, std::string& answer);
    bool RunCommon(const ScpiCommand& command, std::string& answer);
    bool TakesOne(const ScpiCommand& command);
    bool SetFunction(const ScpiCommand& command);
    bool SetFrequency(const ScpiCommand& command);
    bool SetOutput(const ScpiCommand& command);
    void Reset();
    // Start with the settings, on the device when the output is on.
    void Apply();
    void OnMessage(const char* text);
    void Queue(int code, const std::string& detail = {});
    std::string NextError();
    int StatusByte() const;

    ConsoleDialogWindow m_window;
    SilentWaveOut m_silent;
    DeferredWaveOut m_output;
    IWaveOut& m_device;
    CWaveGeneratorDialog m_dialog;
    bool m_on = false;
    std::deque<std::pair<int, std::string>> m_errors;
    int m_eventStatus = 0;            // *ESR
    int m_eventEnable = 0;            // *ESE
    std::string m_failure;            // the device's last reason, for the next -241
    std::vector<std::string> m_path;  // the header path of the line so far
};
