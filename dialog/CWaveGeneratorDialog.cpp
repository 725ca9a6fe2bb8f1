#include "CWaveGeneratorDialog.h"

#include <cstdio>

#include "FrequencyScale.h"
#include "MessageText.h"
#include "NoiseGenerator.h"
#include "NumberParse.h"
#include "NumberRules.h"
#include "OutputLevel.h"
#include "ResourceIds.h"
#include "SampleBuffer.h"
#include "ShapedSynthesis.h"
#include "WaveformNames.h"
#include "WaveformSynthesis.h"

namespace {

constexpr int kFrequencyTextLimit = 80;  // characters read from the box, terminator included
constexpr double kLowestOrdinaryFrequency = 10.0;
// One ulp below the nearest double to 5/3 (which the synthesis uses for the
// status text): with it, 9600 Hz passes the check at 48000 samples per
// second and the next double above 9600 is corrected.
constexpr double kSweepTopFactor = 1.6666666666666665;
constexpr double kSweepLimitFactor = 0.3333333333333333;
constexpr double kSweepCorrectionFactor = 0.2;
constexpr double kFastScrollMilliseconds = 300.0;

constexpr const char* kOpenFailedText =
    "fail to open waveOutDevice\n"
    "Make sure that you use the same sampling rate as the recording device\n";
constexpr const char* kCannotOpenText = "cannot open wave out device";
constexpr const char* kStoppedText = "Stopped";
constexpr const char* kIllegalFrequencyText = "Illegal frequency";
constexpr const char* kTooHighText = "Frequency is too high; try less than %d";
constexpr const char* kTooLowText = "That was too low a frequency for ordinary sound cards.";
constexpr const char* kSweepTooHighText = "The highest frequency is too high.";
// Added under the first line of the description while the output is lost.
constexpr const char* kLostText = "No sound: the output device was lost";
constexpr const char* kReconnectingText = "No sound: output device lost; reconnecting";

}  // namespace

CWaveGeneratorDialog::CWaveGeneratorDialog(IDialogWindow& window, IWaveOut& waveOut,
                                           ITickSource& ticks)
    : m_window(window), m_device(waveOut), m_ticks(ticks)
{
}

int CWaveGeneratorDialog::DoModal()
{
    return m_window.RunModal();
}

bool CWaveGeneratorDialog::OnInitDialog()
{
    m_maxFrequency = kDefaultMaxFrequency;
    m_minFrequency = kDefaultMinFrequency;
    m_bufferSeconds = kDefaultBufferSeconds;
    m_sampleRate = kDefaultSampleRate;
    m_sliderSteps = kDefaultSliderSteps;
    for (const WaveformName& name : kWaveformNames) {
        m_window.AddListString(IDC_WAVEFORM_LIST, name.listText);
    }
    m_window.SetListSelection(IDC_WAVEFORM_LIST, 0);
    m_waveform = kSine;
    m_window.SetScrollRange(0, m_sliderSteps);
    m_frequency = kDefaultFrequency;
    m_window.SetScrollPos(ScrollPosFromFrequency(*this, kDefaultFrequency));
    ShowFrequencyInBox();
    return true;
}

void CWaveGeneratorDialog::OnOK()
{
    // A window keeps handling events while an open waits (a timer, a
    // screen reader's action); a second Start then would leave two devices.
    if (m_opening) {
        return;
    }
    m_abandoned = false;
    OnStop();
    ApplySettings(SettingsFromWindow(), SettingsRoute::Start);
}

GeneratorSettings CWaveGeneratorDialog::SettingsFromWindow()
{
    GeneratorSettings settings = Settings();
    m_window.GetDlgItemText(IDC_FREQUENCY, g_messageText, kFrequencyTextLimit);
    settings.frequency = ParseDecimal(g_messageText);
    settings.waveform = m_window.GetListSelection(IDC_WAVEFORM_LIST);
    return settings;
}

double CWaveGeneratorDialog::FrequencyFromText(const char* text)
{
    char boxText[kFrequencyTextLimit];
    std::snprintf(boxText, sizeof boxText, "%s", text);
    return ParseDecimal(boxText);
}

GeneratorSettings CWaveGeneratorDialog::Settings() const
{
    return {m_waveform, m_frequency, m_level, m_centredNoise, m_shape};
}

SettingsOutcome CWaveGeneratorDialog::ApplySettings(GeneratorSettings settings, SettingsRoute route)
{
    if (m_opening) {
        return SettingsOutcome::Busy;
    }
    m_abandoned = false;
    return route == SettingsRoute::Start ? StartWith(settings) : ChangeTo(settings);
}

SettingsOutcome CWaveGeneratorDialog::StartWith(const GeneratorSettings& settings)
{
    if (m_waveOut != nullptr) {
        OnStop();
    }
    m_level = settings.level;
    m_centredNoise = settings.centredNoise;
    m_shape = settings.shape;
    if (!CorrectSettings(settings) || GenerateWaveform() == 1) {
        return SettingsOutcome::Refused;
    }
    switch (StartPlaying()) {
    case 0:
        return SettingsOutcome::Restarted;
    case 1:
        return SettingsOutcome::Failed;
    default:
        return SettingsOutcome::Cancelled;
    }
}

// A change under the output as it is: refused, everything stays as it was;
// otherwise kept for when the output goes on, or switched in gaplessly
// (also while the device is lost: it takes the new loop when it is back).
SettingsOutcome CWaveGeneratorDialog::ChangeTo(const GeneratorSettings& settings)
{
    const GeneratorState before = *this;
    const GeneratorSettings previous = Settings();
    const auto refuse = [&] {
        static_cast<GeneratorState&>(*this) = before;
        m_level = previous.level;
        m_centredNoise = previous.centredNoise;
        m_shape = previous.shape;
        return SettingsOutcome::Refused;
    };
    if (!CorrectSettings(settings)) {
        return refuse();
    }
    m_shape = settings.shape;
    if (CheckWaveform(*this, m_shape) == SynthesisResult::Refused) {
        m_lastMessage = Message::Refusal;
        m_window.MessageBox(g_messageText);
        return refuse();
    }
    m_level = settings.level;
    m_centredNoise = settings.centredNoise;
    if (m_waveOut == nullptr) {
        m_description = g_messageText;
        ShowStatus(g_messageText);
        return SettingsOutcome::Stored;
    }
    return SwitchLoop(before, previous.shape);
}

// A waveform whose loop is whole cycles of one frequency: a switch from or
// to it keeps the phase. Bursts and sweeps go on from the same sample.
bool CWaveGeneratorDialog::PhaseContinuous(int waveform, const ShapeSettings& shape)
{
    return IsPeriodic(waveform) && !shape.burst && !shape.sweep;
}

// The device plays a copy of what plays now (after a fired burst, just its
// silence) while the sample buffer is made anew; false when it cannot.
bool CWaveGeneratorDialog::HoldLoop(std::int32_t sampleCount)
{
    const std::int32_t from = static_cast<std::int32_t>(m_repeatFrom / 2);
    m_hold.assign(g_sampleBuffer + from, g_sampleBuffer + sampleCount);
    return m_device.Switch(m_waveOut, reinterpret_cast<const char*>(m_hold.data()),
                           static_cast<std::uint32_t>(2 * m_hold.size()), 0.0,
                           0.0) == MMSYSERR_NOERROR;
}

int CWaveGeneratorDialog::GenerateFiredWaveform()
{
    m_fired = true;
    const int result = GenerateWaveform();
    m_fired = false;
    return result;
}

bool CWaveGeneratorDialog::FireTrigger()
{
    if (m_waveOut == nullptr || !m_shape.triggered || !(m_shape.burst || m_shape.sweep) ||
        !HoldLoop(m_sampleCount)) {
        return false;
    }
    const std::uint32_t flags = m_waveHeader.dwFlags;
    GenerateFiredWaveform();  // (the same settings: it cannot refuse)
    m_waveHeader.dwFlags = flags;
    // An endless burst plays on from its start; any other, once.
    const bool endless = m_shape.burst && m_shape.burstCycles == 0;
    m_repeatFrom =
        endless ? 0 : 2 * static_cast<std::uint32_t>(m_sampleCount - kTriggerIdleSamples);
    return m_device.Trigger(m_waveOut, m_waveHeader.lpData, m_waveHeader.dwBufferLength,
                            m_repeatFrom) == MMSYSERR_NOERROR;
}

// The device plays a copy of the old loop while the new one is made in the
// sample buffer, then the new one, phase-continuous between periodic
// waveforms. Neither switch waits for the device: from the moment each
// returns, the loop before it is no longer read.
SettingsOutcome CWaveGeneratorDialog::SwitchLoop(const GeneratorState& before,
                                                 const ShapeSettings& beforeShape)
{
    if (!HoldLoop(before.m_sampleCount)) {
        return StartWith(Settings());  // an output that cannot switch starts anew
    }
    // The header stays the one the device has queued, with a new length.
    const std::uint32_t flags = m_waveHeader.dwFlags;
    GenerateWaveform();  // (checked above: it cannot refuse)
    m_waveHeader.dwFlags = flags;
    const double from =
        PhaseContinuous(before.m_waveform, beforeShape) ? before.m_cyclesPerSample : 0.0;
    const double to = PhaseContinuous(m_waveform, m_shape) ? m_cyclesPerSample : 0.0;
    m_device.Switch(m_waveOut, m_waveHeader.lpData, m_waveHeader.dwBufferLength, from, to);
    m_repeatFrom = 0;
    const OutputState state = IWaveOut::Status(m_waveOut).state;
    if (state == OutputState::Lost || state == OutputState::Reopening) {
        OnOutputChange();  // the status line keeps saying so, under the new first line
        return SettingsOutcome::Kept;
    }
    return SettingsOutcome::Switched;
}

// Start's checks and corrections of the settings, with their messages;
// false when it refused or the command was abandoned during a correction's
// box.
bool CWaveGeneratorDialog::CorrectSettings(const GeneratorSettings& settings)
{
    m_frequency = settings.frequency;
    m_waveform = settings.waveform;
    // Written so that NaN is refused too: it is no frequency.
    if (!(m_frequency > 0.0)) {
        ShowMessage(Message::IllegalFrequency, kIllegalFrequencyText);
        return false;
    }
    if (m_frequency > m_maxFrequency) {
        // The number is a third of the rate; it equals m_maxFrequency only
        // because both follow from 48000 samples per second.
        if (!ShowCorrection(kTooHighText, {TruncateToInt32(m_sampleRate) / 3})) {
            return false;
        }
        m_frequency = m_maxFrequency;
        m_window.SetDlgItemInt(IDC_FREQUENCY, TruncateToInt32(m_maxFrequency), true);
    }
    if (m_frequency < m_minFrequency && m_waveform <= kSquare) {
        if (!ShowCorrection(kTooLowText)) {
            return false;
        }
        // A fixed 10, not m_minFrequency: the correction names what ordinary
        // sound cards manage, whatever the slider's bottom is.
        m_frequency = kLowestOrdinaryFrequency;
        m_window.SetDlgItemInt(IDC_FREQUENCY, 10, true);
    }
    if (m_waveform == kSweepingSine &&
        m_sampleRate * kSweepLimitFactor < m_frequency * kSweepTopFactor) {
        if (!ShowCorrection(kSweepTooHighText)) {
            return false;
        }
        m_frequency = m_sampleRate * kSweepCorrectionFactor;
        m_window.SetScrollPos(ScrollPosFromFrequency(*this, m_frequency));
        m_window.SetDlgItemInt(IDC_FREQUENCY, TruncateToInt32(m_frequency), true);
    }
    return true;
}

int CWaveGeneratorDialog::StartPlaying()
{
    const int result = StartOutput();
    if (result == 1) {
        ShowMessage(Message::CannotOpen, kCannotOpenText);
    }
    return result;
}

void CWaveGeneratorDialog::OnCancel()
{
    OnStop();
    EndWithOK();
}

// Exit ends the dialog through the base OK, not the base Cancel: the program
// ends the same either way, and the start-up code ignores the result.
void CWaveGeneratorDialog::EndWithOK()
{
    m_window.EndDialog(IDOK);
}

void CWaveGeneratorDialog::OnStop()
{
    if (m_waveOut != nullptr) {
        m_device.Reset(m_waveOut);
        m_device.UnprepareHeader(m_waveOut, &m_waveHeader);
        m_device.Close(m_waveOut);
    }
    m_waveOut = nullptr;
    FormatText(g_messageText, kMessageTextSize, kStoppedText);
    ShowStatus(g_messageText);
}

void CWaveGeneratorDialog::OnOutputChange()
{
    OutputState state = IWaveOut::Status(m_waveOut).state;
    if (state == OutputState::Stopped) {
        state = OutputState::Playing;  // what the status line shows then is the stop's
    }
    if (state == m_shownState) {
        return;
    }
    if (state == OutputState::Playing) {
        m_loggedFailure.clear();  // it plays again: the next failure is news
        ShowStatus(m_description.c_str());
        return;
    }
    if (m_shownState == OutputState::Playing) {
        LogFailure(m_device.FailureText(m_waveOut));
    }
    // The first line names the waveform and frequency; the rest of a long
    // description would leave the loss no room in the status area.
    const std::string firstLine = m_description.substr(0, m_description.find('\n'));
    const std::string text =
        firstLine + "\n" + (state == OutputState::Reopening ? kReconnectingText : kLostText);
    m_window.SetDlgItemText(IDC_STATUS, text.c_str());
    m_shownState = state;
}

void CWaveGeneratorDialog::LogFailure(const std::string& line)
{
    if (!line.empty() && line != m_loggedFailure) {
        m_window.LogFailure(line.c_str());
        m_loggedFailure = line;
    }
}

void CWaveGeneratorDialog::ShowStatus(const char* text)
{
    m_window.SetDlgItemText(IDC_STATUS, text);
    m_shownState = OutputState::Playing;
}

void CWaveGeneratorDialog::OnCommand(int id)
{
    switch (id) {
    case IDOK:
        OnOK();
        break;
    case IDCANCEL:
    case IDCLOSE:
        OnCancel();
        break;
    case IDC_STOP:
        OnStop();
        break;
    default:
        break;
    }
}

void CWaveGeneratorDialog::OnHScroll(unsigned code, unsigned position)
{
    if (code > SB_THUMBTRACK || m_opening) {
        return;
    }
    const bool thumb = code == SB_THUMBPOSITION || code == SB_THUMBTRACK;
    m_frequency = thumb ? FrequencyFromScrollPos(*this, position) : SteppedFrequency(code);
    // Written so that NaN would clamp to the bottom too, like any value below it.
    if (!(m_frequency >= m_minFrequency)) {
        m_frequency = m_minFrequency;
    }
    if (m_frequency > m_maxFrequency) {
        m_frequency = m_maxFrequency;
    }
    if (code != SB_THUMBPOSITION && m_frequency == m_shownFrequency) {
        return;
    }
    m_shownFrequency = m_frequency;
    ShowFrequencyInBox();
    m_window.SetScrollPos(ScrollPosFromFrequency(*this, m_frequency));
    if (code != SB_THUMBTRACK) {
        OnOK();
    }
}

// An arrow steps 0.1 Hz and a page 10 Hz, ten times as much when the action
// follows the previous arrow or page action within 300 ms.
double CWaveGeneratorDialog::SteppedFrequency(unsigned code)
{
    const double now = m_ticks.GetTickCount();
    const double step = now - m_lastScrollTime < kFastScrollMilliseconds ? 1.0 : 0.1;
    // Read again rather than reusing `now`: the two reads may differ by a
    // tick, and the next action measures its 300 ms from the second one.
    m_lastScrollTime = m_ticks.GetTickCount();
    switch (code) {
    case SB_LINELEFT:
        return m_frequency - step;
    case SB_LINERIGHT:
        return m_frequency + step;
    case SB_PAGELEFT:
        return m_frequency - 100 * step;
    default:
        return m_frequency + 100 * step;
    }
}

int CWaveGeneratorDialog::GenerateWaveform()
{
    if (SynthesizeWaveform(*this, m_shape, g_noise, m_fired) == SynthesisResult::Refused) {
        m_lastMessage = Message::Refusal;
        m_window.MessageBox(g_messageText);
        return 1;
    }
    const auto count = static_cast<std::size_t>(m_sampleCount);
    if (m_centredNoise && (m_waveform == kWhiteNoise || m_waveform == kHeldWhiteNoise)) {
        CentreNoise(g_sampleBuffer, count);
    }
    ScaleSamples(g_sampleBuffer, count, m_level);
    if (m_shape.inverted) {
        InvertSamples(g_sampleBuffer, count);
    }
    m_description = g_messageText;
    ShowStatus(g_messageText);
    FillPlaybackRecords();
    return 0;
}

void CWaveGeneratorDialog::FillPlaybackRecords()
{
    m_waveFormat.wFormatTag = WAVE_FORMAT_PCM;
    m_waveFormat.nChannels = 1;
    m_waveFormat.nSamplesPerSec = static_cast<std::uint32_t>(TruncateToInt32(m_sampleRate));
    m_waveFormat.nAvgBytesPerSec = 2 * m_waveFormat.nSamplesPerSec;
    m_waveFormat.nBlockAlign = 2;
    m_waveFormat.wBitsPerSample = 16;
    m_waveFormat.cbSize = 0;
    m_waveHeader.lpData = reinterpret_cast<char*>(g_sampleBuffer);
    m_waveHeader.dwBufferLength = 2 * static_cast<std::uint32_t>(m_sampleCount);
    m_waveHeader.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    m_waveHeader.dwLoops = kLoopForever;
}

int CWaveGeneratorDialog::StartOutput()
{
    m_opening = true;
    const int opened = m_device.Open(&m_waveOut, m_waveFormat);
    m_opening = false;
    if (opened == WAVERR_OPENCANCELLED) {
        m_waveOut = nullptr;  // the user's choice, not a failure: no box
        return kStartCancelled;
    }
    if (opened != MMSYSERR_NOERROR) {
        m_waveOut = nullptr;
        LogFailure(m_device.FailureText(nullptr));
        ShowMessage(Message::OpenFailed, kOpenFailedText);
        return 1;
    }
    m_loggedFailure.clear();
    m_repeatFrom = 0;
    m_device.PrepareHeader(m_waveOut, &m_waveHeader);
    m_device.Write(m_waveOut, &m_waveHeader);
    return 0;
}

void CWaveGeneratorDialog::ShowMessage(Message kind, const char* format,
                                       std::initializer_list<FormatArg> args)
{
    m_lastMessage = kind;
    FormatText(g_messageText, kMessageTextSize, format, args);
    m_window.MessageBox(g_messageText);
}

// A correction's message; false when the command was abandoned meanwhile.
bool CWaveGeneratorDialog::ShowCorrection(const char* format, std::initializer_list<FormatArg> args)
{
    ShowMessage(Message::Correction, format, args);
    return !m_abandoned;
}

void CWaveGeneratorDialog::ShowFrequencyInBox()
{
    FormatText(g_messageText, kMessageTextSize, "%.3f", {m_frequency});
    m_window.SetDlgItemText(IDC_FREQUENCY, g_messageText);
}
