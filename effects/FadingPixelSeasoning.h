#pragma once

#include <QSize>
#include <QVector>

#include <random>

// One brightness cell: value walks between 25 and 255; direction > 0 means rising.
struct FadingCell
{
    float value;
    int direction;
};

// A grid of independently oscillating brightness values, one cell per canvas pixel, indexed [y][x].
class FadingPixelSeasoning
{
public:
    static constexpr int maxValue = 255;
    static constexpr int minValue = 25;
    static constexpr float step = 4.0f;

    FadingPixelSeasoning();

    // Grows the grid to cover the size; it never shrinks, and a grid already tall enough is left as it is.
    void resizeGrid(QSize size);
    // Steps every cell once; called once per frame.
    void advance();

    const QVector<QVector<FadingCell>>& grid() const { return m_grid; }

protected:
    QVector<QVector<FadingCell>> m_grid;

private:
    std::mt19937 m_engine;
    std::uniform_int_distribution<int> m_valueDistribution;
    std::uniform_int_distribution<int> m_directionDistribution{0, 1};
};
