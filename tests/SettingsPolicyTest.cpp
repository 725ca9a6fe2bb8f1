#include <algorithm>

#include "DialogFixture.h"
#include "ResourceIds.h"
#include "SampleBuffer.h"

namespace {

// How the output stands when a front end asks for new settings.
enum class Before { Stopped, Playing, Opening, Lost, Reopening };

class SettingsPolicy : public DialogFixture {
protected:
    // Brings the output into `state`, then applies `asked` live there.
    SettingsOutcome ApplyIn(Before state, const GeneratorSettings& asked)
    {
        if (state == Before::Opening) {
            SettingsOutcome during = SettingsOutcome::Switched;
            waveOut.m_waitInOpen = [&] {
                before = dialog.Settings();
                TakeLog();
                during = dialog.ApplySettings(asked, SettingsRoute::Live);
                after = dialog.Settings();
                return true;
            };
            Start("500");
            return during;
        }
        if (state != Before::Stopped) {
            Start("500");
        }
        if (state == Before::Lost || state == Before::Reopening) {
            waveOut.LoseLast();
            if (state == Before::Reopening) {
                waveOut.ReopenLast();
            }
            dialog.OnOutputChange();
        }
        before = dialog.Settings();
        TakeLog();
        const SettingsOutcome outcome = dialog.ApplySettings(asked, SettingsRoute::Live);
        after = dialog.Settings();
        return outcome;
    }

    GeneratorSettings before;
    GeneratorSettings after;
};

GeneratorSettings Asking(int waveform, double frequency, double level = 1.0)
{
    GeneratorSettings settings;
    settings.waveform = waveform;
    settings.frequency = frequency;
    settings.level = level;
    return settings;
}

const GeneratorSettings kTriangle1000 = Asking(kTriangle, 1000.0, 0.5);
const GeneratorSettings kFastPulse = Asking(kPulse, 1000.0);  // above 480 Hz: refused

struct PolicyRow {
    Before state;
    GeneratorSettings asked;
    SettingsOutcome outcome;
    int switches;  // the copy of the old loop, then the new one
};

class SettingsPolicyTable : public SettingsPolicy,
                            public ::testing::WithParamInterface<PolicyRow> {};

// Every state of the output with a setting the synthesis takes and one it
// refuses: what the dialog decides, what reaches the device, and what then
// plays. Nothing opens or closes on the live route.
TEST_P(SettingsPolicyTable, eachOutputState_decidesWhatASettingDoes)
{
    const PolicyRow& row = GetParam();
    EXPECT_EQ(ApplyIn(row.state, row.asked), row.outcome);
    const std::vector<std::string> entries = TakeLog();
    const bool changed =
        row.outcome != SettingsOutcome::Refused && row.outcome != SettingsOutcome::Busy;
    EXPECT_EQ(after, changed ? row.asked : before);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "switch"), row.switches);
    for (const char* call : {"open", "close", "reset"}) {
        EXPECT_EQ(std::count(entries.begin(), entries.end(), call), 0) << call;
    }
    if (row.switches > 0) {
        // The device was handed the new loop, at its level.
        const std::int16_t* samples = g_sampleBuffer;
        ASSERT_EQ(waveOut.m_switched.size(), static_cast<std::size_t>(dialog.m_sampleCount));
        EXPECT_TRUE(std::equal(waveOut.m_switched.begin(), waveOut.m_switched.end(), samples));
        EXPECT_EQ(*std::max_element(samples, samples + dialog.m_sampleCount), 16384);
    }
    if (row.outcome == SettingsOutcome::Refused) {
        EXPECT_EQ(window.m_boxes.back(), "decrease the frequency below 480.000Hz");
    }
    if (row.outcome == SettingsOutcome::Kept) {
        // Still said to be without sound, under the new description.
        EXPECT_EQ(window.Text(IDC_STATUS).substr(0, 30), "This is a triangle wave, 1000.");
        EXPECT_NE(window.Text(IDC_STATUS).find("No sound"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, SettingsPolicyTable,
    ::testing::Values(PolicyRow{Before::Stopped, kTriangle1000, SettingsOutcome::Stored, 0},
                      PolicyRow{Before::Playing, kTriangle1000, SettingsOutcome::Switched, 2},
                      PolicyRow{Before::Lost, kTriangle1000, SettingsOutcome::Kept, 2},
                      PolicyRow{Before::Reopening, kTriangle1000, SettingsOutcome::Kept, 2},
                      PolicyRow{Before::Opening, kTriangle1000, SettingsOutcome::Busy, 0},
                      PolicyRow{Before::Stopped, kFastPulse, SettingsOutcome::Refused, 0},
                      PolicyRow{Before::Playing, kFastPulse, SettingsOutcome::Refused, 0},
                      PolicyRow{Before::Lost, kFastPulse, SettingsOutcome::Refused, 0},
                      PolicyRow{Before::Reopening, kFastPulse, SettingsOutcome::Refused, 0}));

// A loss with settings kept: when the device is back the status line is the
// new description, and nothing was opened again for it.
TEST_F(SettingsPolicy, keptWhileLost_playsWhenTheDeviceReturns)
{
    EXPECT_EQ(ApplyIn(Before::Lost, Asking(kSine, 2000.0)), SettingsOutcome::Kept);
    waveOut.ReopenLast();
    waveOut.RecoverLast();
    dialog.OnOutputChange();
    EXPECT_EQ(window.Text(IDC_STATUS), "This is a sine wave, 2000.000 Hz\n");
    EXPECT_EQ(waveOut.m_openDevices, 1);
}

// The window's route keeps the window's rules: Start stops first, and a
// refusal leaves the output stopped.
TEST_F(SettingsPolicy, startRoute_restartsAndARefusalStops)
{
    Start("500");
    TakeLog();
    EXPECT_EQ(dialog.ApplySettings(Asking(kSine, 700.0), SettingsRoute::Start),
              SettingsOutcome::Restarted);
    EXPECT_EQ(TakeLog(),
              (std::vector<std::string>{"reset", "unprepare", "close", "text 1006 Stopped",
                                        "text 1006 This is a sine wave, 700.000 Hz\n", "open",
                                        "prepare", "write"}));
    EXPECT_EQ(dialog.ApplySettings(Asking(kPulse, 700.0), SettingsRoute::Start),
              SettingsOutcome::Refused);
    EXPECT_EQ(dialog.m_waveOut, nullptr);
}

}  // namespace

namespace {

GeneratorSettings Shaped(int waveform, double frequency, void (*shape)(ShapeSettings&))
{
    GeneratorSettings settings = Asking(waveform, frequency);
    shape(settings.shape);
    return settings;
}

// A switch between whole-cycle waveforms keeps the phase (both loops'
// cycles per sample reach the device); one from or to a burst or sweep
// keeps the place in the loop instead, as their loops are not cycles.
TEST_F(SettingsPolicy, switches_keepThePhaseOfCyclesAndThePlaceOfBurstsAndSweeps)
{
    const auto burst = [](ShapeSettings& s) { s.burst = true; };
    const auto sweep = [](ShapeSettings& s) { s.sweep = true; };
    const auto phase = [](ShapeSettings& s) { s.phase = 90.0; };
    const struct {
        GeneratorSettings from, to;
        bool keepsPhase;
    } cases[] = {
        {Asking(kSine, 500.0), Shaped(kRamp, 750.0, phase), true},
        {Shaped(kSine, 500.0, phase), Asking(kSquare, 1000.0), true},
        {Asking(kSine, 500.0), Shaped(kSine, 500.0, burst), false},
        {Shaped(kSine, 500.0, sweep), Asking(kSine, 500.0), false},
        {Asking(kSine, 500.0), Asking(kWhiteNoise, 500.0), false},
    };
    for (const auto& c : cases) {
        Start("500");
        ASSERT_EQ(dialog.ApplySettings(c.from, SettingsRoute::Live), SettingsOutcome::Switched);
        ASSERT_EQ(dialog.ApplySettings(c.to, SettingsRoute::Live), SettingsOutcome::Switched);
        const auto [from, to] = waveOut.m_switchCycles;
        EXPECT_EQ(from > 0.0 && to > 0.0, c.keepsPhase) << c.to.waveform;
    }
}

// A trigger holds the waiting silence, then hands over the burst to play
// once, from its first frame, with its silence to loop after it.
TEST_F(SettingsPolicy, trigger_firesATriggeredBurstOnlyWhilePlaying)
{
    const auto triggered = [](ShapeSettings& s) {
        s.burst = true;
        s.burstCycles = 2;
        s.triggered = true;
    };
    EXPECT_FALSE(dialog.FireTrigger());  // stopped
    Start("500");
    EXPECT_FALSE(dialog.FireTrigger());  // nothing waits for a trigger
    ASSERT_EQ(dialog.ApplySettings(Shaped(kSine, 750.0, triggered), SettingsRoute::Live),
              SettingsOutcome::Switched);
    EXPECT_EQ(waveOut.m_switched.size(), static_cast<std::size_t>(kTriggerIdleSamples));
    TakeLog();
    ASSERT_TRUE(dialog.FireTrigger());
    const std::vector<std::string> calls = TakeLog();
    EXPECT_EQ(calls.front(), "switch");
    EXPECT_EQ(calls.back(), "trigger");
    ASSERT_EQ(waveOut.m_switched.size(), 128u + kTriggerIdleSamples);  // two 64-sample cycles
    EXPECT_EQ(waveOut.m_repeatFrom, 2u * 128);
    EXPECT_EQ(waveOut.m_switched[16], 32767);
    EXPECT_EQ(waveOut.m_switched[128], 0);
}

}  // namespace
