// Times GenerateWaveform for each waveform against a bare loop of std::sin
// over the same sample count, the floor for the sine and the sweep.
#include <benchmark/benchmark.h>

#include <cmath>

#include "CWaveGeneratorDialog.h"
#include "MonotonicTickSource.h"
#include "QuietDialogWindow.h"
#include "SilentWaveOut.h"

namespace {

constexpr int kDefaultCount = 480000;
constexpr int kLongestSweepCount = 1048569;

void GenerateWaveformAt(benchmark::State& state, int waveform, double frequency)
{
    QuietDialogWindow window;
    SilentWaveOut waveOut;
    MonotonicTickSource ticks;
    CWaveGeneratorDialog dialog(window, waveOut, ticks);
    dialog.OnInitDialog();
    dialog.m_waveform = waveform;
    dialog.m_frequency = frequency;
    for (auto _ : state) {
        if (dialog.GenerateWaveform() != 0) {
            state.SkipWithError("refused");
            return;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * dialog.m_sampleCount);
}

void BareSineLoop(benchmark::State& state, int count)
{
    const double p = 500.0 / 48000.0;
    for (auto _ : state) {
        double sum = 0.0;
        for (int i = 0; i < count; ++i) {
            sum += std::sin((i * p) * 6.283185307179586);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK_CAPTURE(BareSineLoop, 480000, kDefaultCount)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GenerateWaveformAt, sine_500Hz, 0, 500.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GenerateWaveformAt, triangle_500Hz, 1, 500.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GenerateWaveformAt, square_500Hz, 2, 500.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GenerateWaveformAt, pulse_100Hz, 3, 100.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GenerateWaveformAt, noise, 4, 500.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GenerateWaveformAt, held_noise, 5, 500.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GenerateWaveformAt, sweep_500Hz, 6, 500.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BareSineLoop, 1048569, kLongestSweepCount)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GenerateWaveformAt, sweep_30_234Hz, 6, 30.234)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
