#include "capture/linux/BlockAverage.h"

#include "capture/ScreenFrame.h"
#include "capture/ScreenInfo.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void blockAverage16Reference(const uchar* src, qsizetype srcStride, int blocksW, int blocksH, uchar* dst,
                             qsizetype dstStride)
{
    for (int by = 0; by < blocksH; ++by) {
        for (int bx = 0; bx < blocksW; ++bx) {
            quint32 sums[4] = {0, 0, 0, 0};
            for (int y = 0; y < 16; ++y) {
                const uchar* p = src + (qsizetype(by) * 16 + y) * srcStride + qsizetype(bx) * 64;
                for (int x = 0; x < 16; ++x) {
                    for (int c = 0; c < 4; ++c)
                        sums[c] += p[x * 4 + c];
                }
            }
            uchar* out = dst + qsizetype(by) * dstStride + qsizetype(bx) * 4;
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<uchar>((sums[c] + 128) >> 8);
            out[3] = 255;
        }
    }
}

#if defined(__SSE2__)

// Rows are walked in memory order so the hardware prefetcher streams them; each block keeps one accumulator
// of 16-bit lanes holding two pixel columns per channel (at most 16 rows x 8 pixels x 255 = 32640).
void blockAverage16(const uchar* src, qsizetype srcStride, int blocksW, int blocksH, uchar* dst,
                    qsizetype dstStride)
{
    if (blocksW <= 0 || blocksH <= 0)
        return;
    constexpr int MaxChunk = 256;
    __m128i acc[MaxChunk];
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi16(128);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xff000000u));

    for (int by = 0; by < blocksH; ++by) {
        const uchar* band = src + qsizetype(by) * 16 * srcStride;
        quint32* out = reinterpret_cast<quint32*>(dst + qsizetype(by) * dstStride);
        for (int first = 0; first < blocksW; first += MaxChunk) {
            const int count = qMin(MaxChunk, blocksW - first);
            for (int i = 0; i < count; ++i)
                acc[i] = zero;
            for (int y = 0; y < 16; ++y) {
                const uchar* row = band + y * srcStride + qsizetype(first) * 64;
                for (int i = 0; i < count; ++i) {
                    const uchar* p = row + i * 64;
                    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
                    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
                    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
                    const __m128i s0 = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpackhi_epi8(a, zero));
                    const __m128i s1 = _mm_add_epi16(_mm_unpacklo_epi8(b, zero), _mm_unpackhi_epi8(b, zero));
                    const __m128i s2 = _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpackhi_epi8(c, zero));
                    const __m128i s3 = _mm_add_epi16(_mm_unpacklo_epi8(d, zero), _mm_unpackhi_epi8(d, zero));
                    acc[i] =
                        _mm_add_epi16(acc[i], _mm_add_epi16(_mm_add_epi16(s0, s1), _mm_add_epi16(s2, s3)));
                }
            }
            for (int i = 0; i < count; ++i) {
                // Fold the two pixel columns: at most 65280 + 128, still within 16 unsigned bits.
                __m128i total = _mm_add_epi16(acc[i], _mm_srli_si128(acc[i], 8));
                total = _mm_srli_epi16(_mm_add_epi16(total, round), 8);
                total = _mm_or_si128(_mm_packus_epi16(total, zero), alpha);
                out[first + i] = static_cast<quint32>(_mm_cvtsi128_si32(total));
            }
        }
    }
}

#else

void blockAverage16(const uchar* src, qsizetype srcStride, int blocksW, int blocksH, uchar* dst,
                    qsizetype dstStride)
{
    blockAverage16Reference(src, srcStride, blocksW, blocksH, dst, dstStride);
}

#endif

void resizeReducedFrame(ScreenFrame* frame, int blocksW, int blocksH)
{
    delete[] frame->buffer;
    frame->buffer = nullptr;
    frame->width = qMax(0, blocksW);
    frame->height = qMax(0, blocksH);
    frame->stride = frame->width * 4;
    frame->size = qint64(frame->stride) * frame->height;
    if (frame->size > 0)
        frame->buffer = new uchar[size_t(frame->size)]();
}

ScreenFrame* newReducedFrame(const ScreenInfo& screen)
{
    auto* frame = new ScreenFrame;
    resizeReducedFrame(frame, screen.geometry.width() / 16, screen.geometry.height() / 16);
    frame->valid = 1;
    frame->name = screen.name;
    frame->geometry = screen.geometry;
    frame->monitor = screen.monitor;
    return frame;
}
