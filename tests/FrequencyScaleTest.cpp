#include <gtest/gtest.h>

#include "FrequencyScale.h"
#include "NoiseGenerator.h"

namespace {

GeneratorState Defaults()
{
    GeneratorState state;
    state.m_maxFrequency = kDefaultMaxFrequency;
    state.m_minFrequency = kDefaultMinFrequency;
    state.m_sliderSteps = kDefaultSliderSteps;
    return state;
}

TEST(FrequencyScale, positionsToFrequencies)
{
    const GeneratorState s = Defaults();
    EXPECT_EQ(FrequencyFromScrollPos(s, 0), 10.0);
    EXPECT_NEAR(FrequencyFromScrollPos(s, 2), 10.0006396, 1e-12);
    EXPECT_NEAR(FrequencyFromScrollPos(s, 1751), 500.2535599, 1e-7);
    EXPECT_EQ(FrequencyFromScrollPos(s, 2500), 1009.375);
    EXPECT_EQ(FrequencyFromScrollPos(s, 5000), 4007.5);
    EXPECT_EQ(FrequencyFromScrollPos(s, 10000), 16000.0);
}

TEST(FrequencyScale, frequenciesToPositions)
{
    const GeneratorState s = Defaults();
    const std::pair<double, int> cases[] = {{10.0, 0},       {500.0, 1751}, {500.1, 1751},
                                            {501.1, 1753},   {510.0, 1768}, {9600.0, 7744},
                                            {16000.0, 10000}};
    for (const auto& [frequency, position] : cases) {
        EXPECT_EQ(ScrollPosFromFrequency(s, frequency), position) << frequency;
    }
}

TEST(FrequencyScale, everyPositionRoundTrips)
{
    const GeneratorState s = Defaults();
    for (unsigned position = 0; position <= 10000; ++position) {
        ASSERT_EQ(ScrollPosFromFrequency(s, FrequencyFromScrollPos(s, position)),
                  static_cast<int>(position));
    }
}

TEST(NoiseGenerator, firstDrawsAfterStartUp)
{
    NoiseGenerator noise;
    EXPECT_EQ(noise.Next(), 41);
    EXPECT_EQ(noise.Next(), 18467);
    EXPECT_EQ(noise.Next(), 6334);
    EXPECT_EQ(noise.Next(), 26500);
}

}  // namespace
