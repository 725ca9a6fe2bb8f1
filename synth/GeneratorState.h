#pragma once

#include <cstdint>

// Limits and defaults that the dialog sets once when it opens.
inline constexpr double kDefaultMaxFrequency = 16000.0;  // Hz
inline constexpr double kDefaultMinFrequency = 10.0;     // Hz
inline constexpr double kDefaultBufferSeconds = 10.0;
inline constexpr double kDefaultSampleRate = 48000.0;
inline constexpr std::int32_t kDefaultSliderSteps = 10000;
inline constexpr double kDefaultFrequency = 500.0;  // Hz

// Everything the generator knows. The dialog holds these as its own plain
// data members; the synthesis and the frequency scale work on them directly.
struct GeneratorState {
    double m_maxFrequency = 0.0;     // Hz, top of the slider scale
    double m_minFrequency = 0.0;     // Hz, bottom of the slider scale
    double m_shownFrequency = 0.0;   // Hz, what the slider last put into the box
    double m_frequency = 0.0;        // Hz, the requested output frequency
    double m_sampleRate = 0.0;       // samples per second
    double m_cyclesPerSample = 0.0;  // set by every synthesis
    double m_sweepLength = 0.0;      // samples, one sweep of the sweeping sine
    double m_lastScrollTime = 0.0;   // ms, tick count of the last arrow/page action
    double m_bufferSeconds = 0.0;    // nominal length of the looping buffer
    std::int32_t m_sampleCount = 0;  // samples; holds a refused count after a refusal
    std::int32_t m_waveform = 0;     // position of the selected list item
    std::int32_t m_sliderSteps = 0;  // the slider's range is 0..m_sliderSteps
};
