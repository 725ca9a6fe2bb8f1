// Times GenerateWaveform for each waveform against a bare loop of std::sin
// over the same sample count, the floor for the sine and the sweep.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CWaveGeneratorDialog.h"
#include "MonotonicTickSource.h"
#include "QuietDialogWindow.h"
#include "SilentWaveOut.h"
#include "SineFill.h"
#include "WaveformSynthesis.h"

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

// Each sine path alone, against the bare scalar loop above: the sine at
// 500 Hz, the sweep at 500 Hz and the longest sweep.
void SinePathAt(benchmark::State& state, SinePath path, bool sweep, double frequency)
{
    if (!SinePathSupported(path)) {
        state.SkipWithError("not supported here");
        return;
    }
    const double p = frequency / 48000.0;
    const double length = SweepLength(frequency, 48000.0);
    const std::int32_t count = sweep ? static_cast<std::int32_t>(length) : kDefaultCount;
    std::vector<std::int16_t> out(static_cast<std::size_t>(count));
    for (auto _ : state) {
        if (sweep) {
            FillSweepSamples(path, p, length, count, out.data());
        } else {
            FillSineSamples(path, p, count, out.data());
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// Every path on each buffer, as SinePath/<path>_<buffer>.
const bool kSinePathsRegistered = [] {
    const std::pair<const char*, SinePath> paths[] = {
        {"scalar", SinePath::Scalar}, {"avx2", SinePath::Avx2}, {"avx512", SinePath::Avx512}};
    const struct {
        const char* name;
        bool sweep;
        double frequency;
    } buffers[] = {{"sine_500Hz", false, 500.0},
                   {"sweep_500Hz", true, 500.0},
                   {"sweep_30_234Hz", true, 30.234}};
    for (const auto& buffer : buffers) {
        for (const auto& [name, path] : paths) {
            const std::string title = std::string("SinePath/") + name + "_" + buffer.name;
            benchmark::RegisterBenchmark(title.c_str(), SinePathAt, path, buffer.sweep,
                                         buffer.frequency)
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}();

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
