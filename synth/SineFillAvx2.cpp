// The AVX2 path of the sine fill; this file alone is built with -mavx2 -mfma
// (no fused operations: -ffp-contract=off still holds).
#include <immintrin.h>

#include "VectorSineFill.h"

extern "C" __m256d _ZGVdN4v_sin(__m256d x);  // glibc's libmvec

namespace {

struct Avx2 {
    using V = __m256d;
    static constexpr int kWidth = 4;

    static V Sin(V x) { return _ZGVdN4v_sin(x); }

    static unsigned NearWholeMask(V v)
    {
        const V whole = _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const V away = _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_sub_pd(v, whole));
        const V nearWhole =
            _mm256_and_pd(_mm256_cmp_pd(away, _mm256_set1_pd(sine::kMargin), _CMP_LT_OQ),
                          _mm256_cmp_pd(whole, _mm256_setzero_pd(), _CMP_NEQ_OQ));
        const V nearNext = _mm256_cmp_pd(away, _mm256_set1_pd(1.0 - sine::kMargin), _CMP_GT_OQ);
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_or_pd(nearWhole, nearNext)));
    }

    // |v| < 32768: the 32-bit truncations fit 16 bits, so packing keeps them.
    static void StoreTruncated(V v, std::int16_t* out)
    {
        const __m128i whole = _mm256_cvttpd_epi32(v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(whole, whole));
    }
};

}  // namespace

void FillSineAvx2(double p, std::int32_t count, std::int16_t* out)
{
    sine::FillSine<Avx2>(p, count, out);
}

void FillSweepAvx2(double p, double length, std::int32_t count, std::int16_t* out)
{
    sine::FillSweep<Avx2>(p, length, count, out);
}
