// The vector paths of the sine and the sweep give the scalar path's samples,
// bit for bit, over a broad fixed set of buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "SineFill.h"
#include "WaveformSynthesis.h"

namespace {

constexpr double kRate = 48000.0;

std::vector<double> SineFrequencies()
{
    std::vector<double> f = {10.0, 16000.0, 15999.999, 1234.567, 440.05, 500.0, 30.234};
    for (int period : {3, 4, 5, 6, 8, 10, 12, 16, 25, 48, 96, 100, 480, 1000, 4800}) {
        f.push_back(kRate / period);  // a whole number of samples a cycle
    }
    for (int k = 0; f.size() < 210; ++k) {  // spread evenly on a log scale, off any grid
        f.push_back(10.0 * std::pow(1600.0, (k + 0.37) / 188.0));
    }
    return f;
}

std::vector<double> SweepFrequencies()
{
    std::vector<double> f = {30.234, 9600.0, 500.0, 1000.0, 9599.99, 100.0};
    for (int k = 0; f.size() < 32; ++k) {
        f.push_back(31.0 * std::pow(300.0, (k + 0.5) / 26.0));
    }
    return f;
}

// The index of the first sample where the two differ, or -1.
long FirstDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b)
{
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

TEST(SineFill, everyVectorPath_givesTheScalarSamples)
{
    std::vector<SinePath> paths;
    for (SinePath path : {SinePath::Avx2, SinePath::Avx512}) {
        if (SinePathSupported(path)) {
            paths.push_back(path);
        }
    }
    if (paths.empty()) {
        GTEST_SKIP() << "no vector path on this machine";
    }
    std::vector<std::int16_t> scalar(1048576);
    std::vector<std::int16_t> vector(scalar.size());
    for (double f : SineFrequencies()) {
        const double p = f / kRate;
        scalar.assign(480000, 0);
        FillSineSamples(SinePath::Scalar, p, 480000, scalar.data());
        for (SinePath path : paths) {
            vector.assign(480000, 0);
            FillSineSamples(path, p, 480000, vector.data());
            EXPECT_EQ(FirstDifference(scalar, vector), -1)
                << "sine " << f << " Hz, path " << static_cast<int>(path);
        }
    }
    for (double f : SweepFrequencies()) {
        const double p = f / kRate;
        const double length = SweepLength(f, kRate);
        const auto count = static_cast<std::int32_t>(length);
        ASSERT_LE(count, 1048576) << f;
        scalar.assign(static_cast<std::size_t>(count), 0);
        FillSweepSamples(SinePath::Scalar, p, length, count, scalar.data());
        for (SinePath path : paths) {
            vector.assign(static_cast<std::size_t>(count), 0);
            FillSweepSamples(path, p, length, count, vector.data());
            EXPECT_EQ(FirstDifference(scalar, vector), -1)
                << "sweep " << f << " Hz, path " << static_cast<int>(path);
        }
    }
}

}  // namespace
