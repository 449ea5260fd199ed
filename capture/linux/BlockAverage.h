#pragma once

#include <QtGlobal>

struct ScreenFrame;
struct ScreenInfo;

// Reduces 32-bit BGRX pixels to one pixel per 16 x 16 block: each colour byte is the rounded exact mean
// (sum + 128) / 256 of the block, alpha is 255. Reads blocksW * 16 pixels of blocksH * 16 rows.
void blockAverage16(const uchar* src, qsizetype srcStride, int blocksW, int blocksH, uchar* dst,
                    qsizetype dstStride);

// The same reduction written plainly, one block at a time.
void blockAverage16Reference(const uchar* src, qsizetype srcStride, int blocksW, int blocksH, uchar* dst,
                             qsizetype dstStride);

// The frame record that receives the reduction of screen: 1/16 of its size per side, zeroed, valid. The
// caller owns the record and its buffer.
ScreenFrame* newReducedFrame(const ScreenInfo& screen);

// Gives frame a zeroed buffer for blocksW x blocksH reduced pixels, freeing the one it had.
void resizeReducedFrame(ScreenFrame* frame, int blocksW, int blocksH);
