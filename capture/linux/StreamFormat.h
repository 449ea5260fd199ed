#pragma once

#include <QString>
#include <QtGlobal>

struct spa_pod;

// The picture a screen-cast stream agreed on, read from its Format param, and what a buffer of it must hold
// before a reduction reads it. The params come from the compositor: nothing in them is taken on trust.
struct StreamFormat
{
    // Also the largest size the streams offer to take.
    static constexpr int MaxSide = 16384;

    quint32 format = 0; // spa_video_format; 0 while none is agreed
    int width = 0;
    int height = 0;

    // Raw video in one of the 32-bit layouts the streams offer and of a size within MaxSide; false for
    // anything else, with out left as it was.
    static bool read(const spa_pod* param, StreamFormat* out);
    // What a producer offers in one of its EnumFormat params ("BGRx/RGBA", "NV12", "BGRx DMA-BUF"), for the
    // log when no picture comes.
    static QString describe(const spa_pod* param);

    // The row stride to read a buffer chunk with (its own, or packed rows where it gives none); 0 when the
    // chunk, or the memory it sits in, ends before the last 16 x 16 block.
    qint64 readableStride(qint32 stride, quint32 offset, quint32 size, quint32 maxsize) const;
    // Red in the first byte: the reduction, made for blue first, swaps afterwards.
    bool redFirst() const;
};
