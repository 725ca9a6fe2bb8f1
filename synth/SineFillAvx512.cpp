// The AVX-512 path of the sine fill; this file alone is built with
// -mavx512f (no fused operations: -ffp-contract=off still holds).
#include <immintrin.h>

#include "VectorSineFill.h"

extern "C" __m512d _ZGVeN8v_sin(__m512d x);  // glibc's libmvec

namespace {

struct Avx512 {
    using V = __m512d;
    static constexpr int kWidth = 8;
    // The zero-masked forms, all lanes on: the plain ones start from an
    // undefined register, which GCC 12 warns of as maybe uninitialized (and
    // the rounding one is a macro whose mask cast warns at -O0).
    static constexpr __mmask8 kAll = 0xFF;

    static V Sin(V x) { return _ZGVeN8v_sin(x); }

    static unsigned NearWholeMask(V v)
    {
        // |v| < 32768: truncated through 32 bits, exactly.
        const V whole = _mm512_maskz_cvtepi32_pd(kAll, _mm512_maskz_cvttpd_epi32(kAll, v));
        const V away = _mm512_abs_pd(_mm512_sub_pd(v, whole));
        const __mmask8 nearWhole =
            _mm512_cmp_pd_mask(away, _mm512_set1_pd(sine::kMargin), _CMP_LT_OQ) &
            _mm512_cmp_pd_mask(whole, _mm512_setzero_pd(), _CMP_NEQ_OQ);
        const __mmask8 nearNext =
            _mm512_cmp_pd_mask(away, _mm512_set1_pd(1.0 - sine::kMargin), _CMP_GT_OQ);
        return static_cast<unsigned>(nearWhole | nearNext);
    }

    // |v| < 32768: the 32-bit truncations fit 16 bits, so narrowing keeps them.
    static void StoreTruncated(V v, std::int16_t* out)
    {
        const __m512i whole = _mm512_castsi256_si512(_mm512_maskz_cvttpd_epi32(kAll, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm256_castsi256_si128(_mm512_maskz_cvtsepi32_epi16(0xFFFF, whole)));
    }
};

}  // namespace

void FillSineAvx512(double p, std::int32_t count, std::int16_t* out)
{
    sine::FillSine<Avx512>(p, count, out);
}

void FillSweepAvx512(double p, double length, std::int32_t count, std::int16_t* out)
{
    sine::FillSweep<Avx512>(p, length, count, out);
}
