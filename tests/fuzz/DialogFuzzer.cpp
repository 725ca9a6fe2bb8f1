// Drives the dialog through the recording fakes with arbitrary frequency
// texts, list positions and slider actions, and checks what must always
// hold. Input: a sequence of operations, each starting with one byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CWaveGeneratorDialog.h"
#include "FakeTickSource.h"
#include "MessageText.h"
#include "NumberParse.h"
#include "RecordingWaveOut.h"
#include "RecordingWindow.h"
#include "SampleBuffer.h"

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint32_t Word()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = value << 8 | Byte();
        }
        return value;
    }
    std::string Text(std::size_t length)
    {
        const std::size_t taken = std::min(length, m_size - std::min(m_at, m_size));
        std::string text(reinterpret_cast<const char*>(m_data + m_at), taken);
        m_at += taken;
        return text;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

const char* const kRefusals[] = {
    "exceeding pre-allocated memory",
    "decrease the frequency below",
    "increase the frequency above",
    "waveform not yet defined",
};

bool IsRefusal(const std::string& text)
{
    for (const char* refusal : kRefusals) {
        if (text.rfind(refusal, 0) == 0) {
            return true;
        }
    }
    return false;
}

// Every Start ends in exactly one of its outcomes (the fake device always
// opens, so "cannot open" never comes).
void CheckStartOutcome(CWaveGeneratorDialog& dialog, RecordingWindow& window,
                       std::size_t boxesBefore)
{
    const std::string status = window.Text(IDC_STATUS);
    const bool newBox = window.m_boxes.size() > boxesBefore;
    const std::string lastBox = newBox ? window.m_boxes.back() : "";
    const bool illegal = newBox && lastBox == "Illegal frequency" && dialog.m_waveOut == nullptr &&
                         status == "Stopped";
    const bool refused =
        newBox && IsRefusal(lastBox) && dialog.m_waveOut == nullptr && status == "Stopped";
    const bool playing = dialog.m_waveOut != nullptr && status != "Stopped";
    Require(illegal + refused + playing == 1, "Start ends in exactly one outcome");
    if (playing) {
        Require(dialog.m_sampleCount > 0 && dialog.m_sampleCount <= kSampleBufferCapacity,
                "the played count fits the buffer");
        for (std::int32_t i = 0; i < dialog.m_sampleCount; ++i) {
            Require(g_sampleBuffer[i] >= -32767, "no sample below -32767");
        }
        Require(dialog.m_waveHeader.dwBufferLength ==
                    2u * static_cast<std::uint32_t>(dialog.m_sampleCount),
                "the header covers the buffer");
    }
}

void CheckTexts(RecordingWindow& window)
{
    for (const auto& [id, text] : window.m_texts) {
        Require(text.size() < kMessageTextSize, "a control text fits the message buffer");
    }
    for (const std::string& box : window.m_boxes) {
        Require(box.size() < kMessageTextSize, "a box text fits the message buffer");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> log;
    RecordingWindow window(log);
    RecordingWaveOut waveOut(log);
    FakeTickSource ticks;
    CWaveGeneratorDialog dialog(window, waveOut, ticks);
    window.m_dialog = &dialog;
    dialog.OnInitDialog();

    Input input(data, size);
    for (int operation = 0; operation < 8 && !input.Empty(); ++operation) {
        const std::uint8_t kind = input.Byte() % 6;
        const std::size_t boxesBefore = window.m_boxes.size();
        if (kind == 0) {  // type a frequency, pick a position, press Start
            window.m_texts[IDC_FREQUENCY] = input.Text(input.Byte() % 201);
            window.m_selection = input.Byte() % 12 - 2;
            dialog.OnOK();
            CheckStartOutcome(dialog, window, boxesBefore);
        } else if (kind == 1) {  // a slider action
            const unsigned code = input.Byte() % 10;
            const unsigned position = (unsigned{input.Byte()} << 8 | input.Byte()) % 10001u;
            ticks.m_now += input.Word();
            const bool wasPlaying = dialog.m_waveOut != nullptr;
            dialog.OnHScroll(code, position);
            if (code <= SB_THUMBTRACK) {
                Require(dialog.m_frequency >= 10.0 && dialog.m_frequency <= 16000.0,
                        "the slider keeps the frequency within its limits");
            }
            if (code < SB_THUMBTRACK && window.m_boxes.size() == boxesBefore &&
                (dialog.m_waveOut != nullptr || wasPlaying)) {
                Require(dialog.m_waveOut != nullptr || window.Text(IDC_STATUS) == "Stopped",
                        "a restart plays or reports");
            }
        } else if (kind == 4) {  // a setting changed live, as the instrument asks it
            const GeneratorSettings before = dialog.Settings();
            const WaveOutHandle device = dialog.m_waveOut;
            GeneratorSettings asked;
            asked.waveform = input.Byte() % 10 - 1;
            asked.frequency = ParseDecimal(input.Text(input.Byte() % 24).c_str());
            asked.level = input.Byte() / 255.0;
            asked.centredNoise = (input.Byte() & 1) != 0;
            const SettingsOutcome outcome = dialog.ApplySettings(asked, SettingsRoute::Live);
            Require(outcome != SettingsOutcome::Refused || dialog.Settings() == before,
                    "a refused setting changes nothing");
            Require(dialog.m_waveOut == device, "a live setting neither opens nor closes");
        } else if (kind == 5) {  // the device lost, or back
            const OutputState state = IWaveOut::Status(dialog.m_waveOut).state;
            if (state == OutputState::Playing) {
                waveOut.LoseLast();
            } else if (state != OutputState::Stopped) {
                waveOut.RecoverLast();
            }
            dialog.OnOutputChange();
        } else if (kind == 2) {
            dialog.OnStop();
            Require(dialog.m_waveOut == nullptr, "Stop leaves no device open");
        } else {
            dialog.OnCancel();
            Require(dialog.m_waveOut == nullptr && window.m_endResult == IDOK,
                    "Exit closes the device and ends the dialog");
        }
        Require(waveOut.m_openDevices == (dialog.m_waveOut != nullptr ? 1 : 0),
                "exactly the handle's device is open");
        CheckTexts(window);
    }
    dialog.OnStop();
    return 0;
}
