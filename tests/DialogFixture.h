#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CWaveGeneratorDialog.h"
#include "FakeTickSource.h"
#include "RecordingWaveOut.h"
#include "RecordingWindow.h"

// A dialog over recording fakes, initialised as the window would do it.
class DialogFixture : public ::testing::Test {
protected:
    DialogFixture()
    {
        window.m_dialog = &dialog;
        dialog.OnInitDialog();
        log.clear();
    }

    // Types text into the frequency box and picks a list position.
    void Enter(const std::string& frequency, int waveform = 0)
    {
        window.m_texts[IDC_FREQUENCY] = frequency;
        window.m_selection = waveform;
    }

    void Start(const std::string& frequency, int waveform = 0)
    {
        Enter(frequency, waveform);
        dialog.OnOK();
    }

    std::vector<std::string> TakeLog()
    {
        std::vector<std::string> taken;
        taken.swap(log);
        return taken;
    }

    std::vector<std::string> log;
    RecordingWindow window{log};
    RecordingWaveOut waveOut{log};
    FakeTickSource ticks;
    CWaveGeneratorDialog dialog{window, waveOut, ticks};
};
