#pragma once

#include "capture/ScreenFrame.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>
#include <QStringList>

// Pictures the tests paint or expect.
namespace TestPictures {

// One letter per pixel naming a colour of the list ('a' the first), rows from the top.
QImage picture(const QStringList& rows, const QList<QColor>& colors);
QStringList repeat(int count, const char* row);

QImage solid(const QSize& size, QRgb color);
// Squares of cell pixels, a at the top left.
QImage checker(const QSize& size, int cell, QRgb a, QRgb b);
QImage gradient(const QSize& size);
QImage noise(const QSize& size, quint32 seed);

// The 16x16 block reduction of the monitor rectangle of screen, computed by the plain reference.
QImage reduced(const QImage& screen, const QRect& monitor);
// Index of the first differing pixel of frame against expected, or -1 when they match byte for byte.
int firstDifference(const ScreenFrame* frame, const QImage& expected);

} // namespace TestPictures
