#include <algorithm>
#include <limits>

#include "DialogFixture.h"
#include "FrequencyScale.h"
#include "MessageText.h"
#include "NoiseGenerator.h"
#include "SampleBuffer.h"

namespace {

using Log = std::vector<std::string>;

const std::string kStopped = "text 1006 Stopped";
const std::string kSine500 = "text 1006 This is a sine wave, 500.000 Hz\n";
const std::string kOpenFailed =
    "box fail to open waveOutDevice\n"
    "Make sure that you use the same sampling rate as the recording device\n";

// --- Initialisation --------------------------------------------------------

using DialogInit = DialogFixture;

TEST_F(DialogInit, setsDefaultsFillsTheListAndPlacesTheSlider)
{
    EXPECT_EQ(dialog.m_maxFrequency, 16000.0);
    EXPECT_EQ(dialog.m_minFrequency, 10.0);
    EXPECT_EQ(dialog.m_bufferSeconds, 10.0);
    EXPECT_EQ(dialog.m_sampleRate, 48000.0);
    EXPECT_EQ(dialog.m_sliderSteps, 10000);
    EXPECT_EQ(dialog.m_frequency, 500.0);
    EXPECT_EQ(dialog.m_waveform, 0);
    EXPECT_EQ(dialog.m_shownFrequency, 0.0);
    EXPECT_EQ(dialog.m_lastScrollTime, 0.0);
    EXPECT_EQ(dialog.m_waveOut, nullptr);
    EXPECT_EQ(window.m_items,
              (Log{"1) Sine", "2) Triangle", "3) Square", "4) 1:100 pulse", "5) White noise",
                   "6) 1/100 sampling rate White noise", "7) 1/3-5/3*f Sweeping sine"}));
    EXPECT_EQ(window.m_selection, 0);
    EXPECT_EQ(window.m_scrollMin, 0);
    EXPECT_EQ(window.m_scrollMax, 10000);
    EXPECT_EQ(window.m_scrollPos, 1751);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "500.000");
    EXPECT_EQ(window.Text(IDC_STATUS), "");
    EXPECT_EQ(waveOut.m_openDevices, 0);
}

TEST_F(DialogInit, doModalRunsTheWindowAndReturnsItsResult)
{
    window.m_whileRunning = [&] { dialog.OnCommand(IDCANCEL); };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(window.m_scrollPos, 1751);
}

// --- Synthesis as the dialog shows it --------------------------------------

using GenerateWaveform = DialogFixture;

TEST_F(GenerateWaveform, success_showsStatusAndFillsBothRecords)
{
    dialog.m_frequency = 500.0;
    ASSERT_EQ(dialog.GenerateWaveform(), 0);
    EXPECT_EQ(TakeLog(), Log{kSine500});
    const WaveFormatEx& f = dialog.m_waveFormat;
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nChannels, 1);
    EXPECT_EQ(f.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.nAvgBytesPerSec, 96000u);
    EXPECT_EQ(f.nBlockAlign, 2);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.cbSize, 0);
    const WaveHeader& h = dialog.m_waveHeader;
    EXPECT_EQ(h.lpData, reinterpret_cast<char*>(g_sampleBuffer));
    EXPECT_EQ(h.dwBufferLength, 960000u);
    EXPECT_EQ(h.dwFlags, 12u);
    EXPECT_EQ(h.dwLoops, 4294967295u);
}

TEST_F(GenerateWaveform, success_clearsTheStateBitsTheDeviceLeft)
{
    dialog.m_waveHeader.dwFlags = WHDR_DONE | WHDR_PREPARED | WHDR_INQUEUE;
    ASSERT_EQ(dialog.GenerateWaveform(), 0);
    EXPECT_EQ(dialog.m_waveHeader.dwFlags, WHDR_BEGINLOOP | WHDR_ENDLOOP);
}

TEST_F(GenerateWaveform, refusal_showsABoxAndLeavesStatusAndRecordsAlone)
{
    dialog.m_frequency = 500.0;
    ASSERT_EQ(dialog.GenerateWaveform(), 0);
    TakeLog();
    dialog.m_frequency = 30.0;
    dialog.m_waveform = 6;
    ASSERT_EQ(dialog.GenerateWaveform(), 1);
    EXPECT_EQ(TakeLog(), Log{"box increase the frequency above 30.000Hz"});
    EXPECT_EQ(window.Text(IDC_STATUS), "This is a sine wave, 500.000 Hz\n");
    EXPECT_EQ(dialog.m_waveHeader.dwBufferLength, 960000u);
    EXPECT_EQ(dialog.m_sampleCount, 1056000);
    EXPECT_EQ(dialog.m_sweepLength, 1056000.0);
    EXPECT_EQ(dialog.m_cyclesPerSample, 30.0 / 48000.0);
}

// --- Wave output: StartOutput and OnStop ------------------------------------

using WaveOutput = DialogFixture;

TEST_F(WaveOutput, stopWithNothingOpen_touchesNoDeviceAndShowsStopped)
{
    dialog.OnStop();
    dialog.OnCommand(IDC_STOP);
    EXPECT_EQ(TakeLog(), (Log{kStopped, kStopped}));
    EXPECT_EQ(dialog.m_waveOut, nullptr);
}

TEST_F(WaveOutput, stopWhilePlaying_resetsUnpreparesClosesInThatOrder)
{
    Start("500");
    ASSERT_NE(dialog.m_waveOut, nullptr);
    EXPECT_EQ(TakeLog(), (Log{kStopped, kSine500, "open", "prepare", "write"}));
    dialog.OnStop();
    dialog.OnStop();
    EXPECT_EQ(TakeLog(), (Log{"reset", "unprepare", "close", kStopped, kStopped}));
    EXPECT_EQ(dialog.m_waveOut, nullptr);
    EXPECT_EQ(waveOut.m_openDevices, 0);
}

TEST_F(WaveOutput, failedOpen_showsBothMessagesAndKeepsTheWaveformStatus)
{
    waveOut.m_failOpen = true;
    Start("500");
    EXPECT_EQ(TakeLog(),
              (Log{kStopped, kSine500, "open", kOpenFailed, "box cannot open wave out device"}));
    EXPECT_EQ(dialog.m_waveOut, nullptr);
    EXPECT_EQ(dialog.m_waveHeader.dwFlags & WHDR_PREPARED, 0u);
    EXPECT_EQ(window.Text(IDC_STATUS), "This is a sine wave, 500.000 Hz\n");
    dialog.OnStop();
    EXPECT_EQ(TakeLog(), Log{kStopped});
}

// A server that stays down fails every retry (the slider's repeat, each
// Start) the same way: the log has it once, and again only after sound.
TEST_F(WaveOutput, sameOpenFailureAgain_isLoggedOnceUntilSoundPlays)
{
    const std::string failure = "failure cannot open PCM 'default': Connection refused";
    auto failures = [&] {
        const Log taken = TakeLog();
        return std::count(taken.begin(), taken.end(), failure);
    };
    waveOut.m_failOpen = true;
    waveOut.m_failureText = "cannot open PCM 'default': Connection refused";
    for (int i = 0; i < 3; ++i) {
        Start("500");
    }
    EXPECT_EQ(failures(), 1);
    waveOut.m_failOpen = false;
    Start("500");
    waveOut.m_failOpen = true;
    Start("500");
    EXPECT_EQ(failures(), 1);
}

TEST_F(WaveOutput, openIsHandedTheSynthesisedFormatAndWriteTheLoopingHeader)
{
    Start("440", 1);
    EXPECT_EQ(waveOut.m_format.nSamplesPerSec, 48000u);
    EXPECT_EQ(waveOut.m_format.nBlockAlign, 2);
    EXPECT_EQ(waveOut.m_written.dwLoops, 4294967295u);
    EXPECT_EQ(waveOut.m_written.dwFlags, WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_PREPARED);
    EXPECT_EQ(waveOut.m_written.lpData, reinterpret_cast<char*>(g_sampleBuffer));
}

// --- Start ------------------------------------------------------------------

using StartCommand = DialogFixture;

TEST_F(StartCommand, whilePlaying_stopsBeforeAnythingElseEvenWhenRefused)
{
    Start("500");
    TakeLog();
    Start("abc");
    EXPECT_EQ(TakeLog(), (Log{"reset", "unprepare", "close", kStopped, "box Illegal frequency"}));
    EXPECT_EQ(dialog.m_waveOut, nullptr);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "abc");
}

TEST_F(StartCommand, textsWithoutAPositiveValue_areIllegal)
{
    for (const char* text : {"abc", "", "-5", "0", "-0", "0.0e5", "nan", "-nan", "NAN(123)", "inf",
                             "INFINITY", "0x10", "0x1p4"}) {
        Start(text);
        EXPECT_EQ(TakeLog(), (Log{kStopped, "box Illegal frequency"})) << text;
        EXPECT_EQ(window.Text(IDC_STATUS), "Stopped");
        EXPECT_EQ(dialog.m_waveOut, nullptr);
    }
    Start("-5");
    EXPECT_EQ(dialog.m_frequency, -5.0);
}

TEST_F(StartCommand, numericPrefix_isPlayed)
{
    Start("500abc");
    EXPECT_EQ(dialog.m_frequency, 500.0);
    EXPECT_EQ(TakeLog(), (Log{kStopped, kSine500, "open", "prepare", "write"}));
}

TEST_F(StartCommand, aboveTheMaximum_isCorrectedTo16000)
{
    for (const char* text : {"1e5", "16000.5", "1e400"}) {
        dialog.OnStop();
        TakeLog();
        Start(text);
        EXPECT_EQ(TakeLog(), (Log{kStopped, "box Frequency is too high; try less than 16000",
                                  "int 1001 16000", "text 1006 This is a sine wave, 16000.000 Hz\n",
                                  "open", "prepare", "write"}))
            << text;
        EXPECT_EQ(dialog.m_frequency, 16000.0);
        EXPECT_EQ(window.Text(IDC_FREQUENCY), "16000");
    }
    Start("16000");
    EXPECT_EQ(window.m_boxes.size(), 3u);
}

TEST_F(StartCommand, belowTheMinimum_isRaisedTo10ForTheFirstThreeWaveforms)
{
    const char* statuses[] = {"This is a sine wave, 10.000 Hz\n",
                              "This is a triangle wave, 10.000 Hz\n",
                              "This is a square wave, actual frequency is 10.000 Hz\n"};
    for (int waveform = 0; waveform <= 2; ++waveform) {
        dialog.OnStop();
        TakeLog();
        Start("5", waveform);
        EXPECT_EQ(TakeLog(),
                  (Log{kStopped, "box That was too low a frequency for ordinary sound cards.",
                       "int 1001 10", std::string("text 1006 ") + statuses[waveform], "open",
                       "prepare", "write"}));
        EXPECT_EQ(dialog.m_frequency, 10.0);
    }
    // No selection (-1) counts as one of them; the synthesis then refuses it.
    dialog.OnStop();
    TakeLog();
    Start("5", -1);
    EXPECT_EQ(
        TakeLog(),
        (Log{kStopped, "box That was too low a frequency for ordinary sound cards.", "int 1001 10",
             "box waveform not yet defined, tell Zorv to add what you want.\n"}));
}

TEST_F(StartCommand, lowFrequencyNoise_passesUnchanged)
{
    Start("0.05", 4);
    EXPECT_EQ(dialog.m_frequency, 0.05);
    EXPECT_TRUE(window.m_boxes.empty());
    EXPECT_NE(dialog.m_waveOut, nullptr);
}

TEST_F(StartCommand, sweepAboveTheMaximum_showsTwoMessagesAndPlays9600)
{
    Start("20000", 6);
    EXPECT_EQ(TakeLog(),
              (Log{kStopped, "box Frequency is too high; try less than 16000", "int 1001 16000",
                   "box The highest frequency is too high.", "thumb 7744", "int 1001 9600",
                   "text 1006 This is a sweeping sine wave, its frequency is "
                   "3200.000-16000.000 Hz\nThe repeat cycle is 2.063 seconds\n",
                   "open", "prepare", "write"}));
    EXPECT_EQ(dialog.m_frequency, 9600.0);
    EXPECT_EQ(window.m_scrollPos, 7744);
    EXPECT_EQ(dialog.m_shownFrequency, 0.0);
}

TEST_F(StartCommand, sweepTopBoundary_9600PassesTheNextValueUpIsCorrected)
{
    Start("9600", 6);
    EXPECT_TRUE(window.m_boxes.empty());
    Start("9600.001", 6);
    EXPECT_EQ(window.m_boxes, Log{"The highest frequency is too high."});
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "9600");
}

TEST_F(StartCommand, refusalsOfTheSynthesis_endTheCommandStopped)
{
    Start("481", 3);
    EXPECT_EQ(TakeLog(), (Log{kStopped, "box decrease the frequency below 480.000Hz"}));
    Start("30", 6);
    EXPECT_EQ(TakeLog(), (Log{kStopped, "box increase the frequency above 30.000Hz"}));
    Start("500", 7);
    EXPECT_EQ(TakeLog(),
              (Log{kStopped, "box waveform not yet defined, tell Zorv to add what you want.\n"}));
    EXPECT_EQ(window.Text(IDC_STATUS), "Stopped");
    EXPECT_EQ(dialog.m_waveform, 7);
}

TEST_F(StartCommand, longText_isReadAsItsFirst79Characters)
{
    // Both texts are 85 characters; only the first 79 count.
    Start(std::string(79, '0') + "5" + std::string(5, '0'));
    EXPECT_EQ(window.m_boxes, Log{"Illegal frequency"});
    Start(std::string(78, '0') + "5" + std::string(6, '0'));
    EXPECT_EQ(dialog.m_frequency, 10.0);
}

TEST_F(StartCommand, noiseContinuesTheGeneratorOfEarlierSyntheses)
{
    NoiseGenerator expected = g_noise;
    Start("1", 4);
    EXPECT_EQ(g_sampleBuffer[0], expected.Next());
    EXPECT_EQ(g_sampleBuffer[1], expected.Next());
}

// --- Exit -------------------------------------------------------------------

using ExitCommand = DialogFixture;

TEST_F(ExitCommand, whilePlaying_stopsThenEndsTheDialogWithIDOK)
{
    Start("500");
    TakeLog();
    dialog.OnCancel();
    EXPECT_EQ(TakeLog(), (Log{"reset", "unprepare", "close", kStopped, "end 1"}));
    EXPECT_EQ(waveOut.m_openDevices, 0);
}

TEST_F(ExitCommand, commandEightAndCancelTakeTheSameRoute)
{
    for (int command : {IDCANCEL, IDCLOSE}) {
        dialog.OnCommand(command);
        EXPECT_EQ(TakeLog(), (Log{kStopped, "end 1"}));
    }
    dialog.OnCommand(IDOK);
    EXPECT_EQ(TakeLog(), (Log{kStopped, "text 1006 This is a sine wave, 500.000 Hz\n", "open",
                              "prepare", "write"}));
}

}  // namespace
