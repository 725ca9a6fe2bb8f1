#include <cmath>

#include "DialogFixture.h"
#include "FrequencyScale.h"

namespace {

using Log = std::vector<std::string>;

const Log RestartAt(const std::string& status)
{
    return {"text 1006 Stopped", "text 1006 " + status, "open", "prepare", "write"};
}

Log Concat(Log a, const Log& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Slider : public DialogFixture {
protected:
    void Scroll(unsigned code, unsigned position = 0, std::uint32_t advanceMs = 0)
    {
        ticks.m_now += advanceMs;
        dialog.OnHScroll(code, position);
    }
};

TEST_F(Slider, arrowAfterAPause_steps01AndRestarts)
{
    Scroll(SB_LINERIGHT);
    EXPECT_EQ(TakeLog(), Concat({"text 1001 500.100", "thumb 1751"},
                                RestartAt("This is a sine wave, 500.100 Hz\n")));
    EXPECT_EQ(dialog.m_frequency, 500.1);
    EXPECT_EQ(dialog.m_lastScrollTime, 1000000.0);

    Scroll(SB_LINERIGHT, 0, 299);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "501.100");
    EXPECT_EQ(window.m_scrollPos, 1753);
}

TEST_F(Slider, pageSteps10AfterAPauseAnd100InQuickSuccession)
{
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "510.000");
    EXPECT_EQ(window.m_scrollPos, 1768);
    Scroll(SB_PAGERIGHT, 0, 100);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "610.000");
    Scroll(SB_PAGELEFT, 0, 100);
    Scroll(SB_PAGELEFT, 0, 100);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "410.000");
}

TEST_F(Slider, theFastRuleIsStrictlyBelow300ms)
{
    const std::pair<std::uint32_t, const char*> cases[] = {
        {300, "500.200"}, {299, "501.200"}, {5000, "501.300"}};
    Scroll(SB_LINERIGHT);
    for (const auto& [pause, shown] : cases) {
        Scroll(SB_LINERIGHT, 0, pause);
        EXPECT_EQ(window.Text(IDC_FREQUENCY), shown) << pause;
    }
}

TEST_F(Slider, aWrappedTickCountCountsAsQuick)
{
    dialog.m_lastScrollTime = 4294967000.0;
    ticks.m_now = 5;
    Scroll(SB_LINELEFT);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "499.000");
    EXPECT_EQ(dialog.m_lastScrollTime, 5.0);
}

TEST_F(Slider, thumbActionsNeitherReadNorWriteTheScrollTime)
{
    Scroll(SB_LINERIGHT);
    Scroll(SB_THUMBTRACK, 2000, 5000);
    EXPECT_EQ(dialog.m_lastScrollTime, 1000000.0);
    Scroll(SB_THUMBPOSITION, 2000);
    EXPECT_EQ(dialog.m_lastScrollTime, 1000000.0);
}

TEST_F(Slider, dragUpdatesTheBoxWithoutRestartingReleaseRestarts)
{
    Scroll(SB_THUMBTRACK, 5000);
    EXPECT_EQ(TakeLog(), (Log{"text 1001 4007.500", "thumb 5000"}));
    Scroll(SB_THUMBTRACK, 5000);
    EXPECT_TRUE(TakeLog().empty());
    Scroll(SB_THUMBPOSITION, 5000);
    EXPECT_EQ(TakeLog(), Concat({"text 1001 4007.500", "thumb 5000"},
                                RestartAt("This is a sine wave, 4007.500 Hz\n")));
    Scroll(SB_ENDSCROLL);
    EXPECT_TRUE(TakeLog().empty());
}

TEST_F(Slider, releaseAtTheEndsShowsTheLimits)
{
    Scroll(SB_THUMBPOSITION, 0);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "10.000");
    EXPECT_EQ(dialog.m_frequency, 10.0);
    Scroll(SB_THUMBPOSITION, 10000);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "16000.000");
    EXPECT_EQ(dialog.m_frequency, 16000.0);
}

TEST_F(Slider, releaseAtPosition2PlaysTheThreeDecimalsTheBoxShows)
{
    Scroll(SB_THUMBPOSITION, 2);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "10.001");
    EXPECT_EQ(window.Text(IDC_STATUS), "This is a sine wave, 10.001 Hz\n");
    EXPECT_EQ(dialog.m_frequency, 10.001);
    EXPECT_NEAR(dialog.m_shownFrequency, 10.0006396, 1e-9);
}

TEST_F(Slider, leftArrowAtTheClampedBottom_doesNothingFurther)
{
    Scroll(SB_THUMBPOSITION, 0);
    TakeLog();
    Scroll(SB_LINELEFT, 0, 1000);
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_EQ(dialog.m_frequency, 10.0);
    EXPECT_EQ(dialog.m_waveOut != nullptr, true);
}

TEST_F(Slider, arrowFromBelowTheMinimum_clampsTo10)
{
    Start("2", 4);
    TakeLog();
    Scroll(SB_LINERIGHT, 0, 1000);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "10.000");
    EXPECT_EQ(window.m_scrollPos, 0);
    EXPECT_EQ(dialog.m_frequency, 10.0);
}

TEST_F(Slider, arrowAfterAnIllegalStart_clampsTo10)
{
    Start("nan");
    ASSERT_EQ(dialog.m_frequency, 0.0);
    TakeLog();
    Scroll(SB_LINELEFT, 0, 1000);
    EXPECT_EQ(dialog.m_frequency, 10.0);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "10.000");
    EXPECT_EQ(window.m_scrollPos, 0);
    EXPECT_EQ(window.Text(IDC_STATUS), "This is a sine wave, 10.000 Hz\n");
}

TEST_F(Slider, arrowAboveTheMaximum_clampsTo16000)
{
    Scroll(SB_THUMBPOSITION, 10000);
    TakeLog();
    Scroll(SB_PAGERIGHT, 0, 1000);
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_EQ(dialog.m_frequency, 16000.0);
}

TEST_F(Slider, typedFrequencyStartedThenArrowStepsFromIt)
{
    Start("1000");
    Scroll(SB_LINELEFT, 0, 1000);
    EXPECT_EQ(window.Text(IDC_FREQUENCY), "999.900");
    EXPECT_EQ(window.m_scrollPos, ScrollPosFromFrequency(dialog, 999.9));
}

TEST_F(Slider, codesAbove5DoNothing)
{
    for (unsigned code : {SB_LEFT, SB_RIGHT, SB_ENDSCROLL, 9u, 4000000000u}) {
        Scroll(code, 3000, 10);
    }
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_EQ(dialog.m_frequency, 500.0);
    EXPECT_EQ(dialog.m_lastScrollTime, 0.0);
}

TEST_F(Slider, restartReachesTheVirtualStart)
{
    struct CountingDialog : CWaveGeneratorDialog {
        using CWaveGeneratorDialog::CWaveGeneratorDialog;
        void OnOK() override { ++starts; }
        int starts = 0;
    } counting{window, waveOut, ticks};
    counting.OnInitDialog();
    counting.OnHScroll(SB_LINERIGHT, 0);
    counting.OnHScroll(SB_THUMBTRACK, 4000);
    counting.OnHScroll(SB_THUMBPOSITION, 4000);
    EXPECT_EQ(counting.starts, 2);
}

}  // namespace
