#include "support/TestGenerator.h"

void TestGenerator::resize(QSize size)
{
    m_size = size;
    lastWidth = size.width();
    lastHeight = size.height();
    ++resizes;
}

void TestGenerator::update()
{
    ++updates;
    if (m_size.width() <= 0 || m_size.height() <= 0)
        return;
    QImage image(m_size, QImage::Format_RGB32);
    for (int y = 0; y < m_size.height(); ++y)
        for (int x = 0; x < m_size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 40 + m_phase) & 0xFF, (y * 30) & 0xFF, m_phase & 0xFF));
    ++m_phase;
    emit canvasUpdated(image);
}
