#pragma once

class QImage;
class QPainter;

// Qt Widgets exports its blur routine without declaring it in a public header. It may replace `blurImage`
// by a halved copy (radius >= 4 and at least 2 x 2) and then paints it scaled back up at the origin.
void qt_blurImage(QPainter* p, QImage& blurImage, double radius, bool quality, bool alphaOnly,
                  int transposed = 0);
