#include "effects/FadingPixelSeasoning.h"

FadingPixelSeasoning::FadingPixelSeasoning()
    : m_engine(std::random_device{}())
{}

void FadingPixelSeasoning::resizeGrid(QSize size)
{
    m_valueDistribution.param(std::uniform_int_distribution<int>::param_type(minValue, maxValue));
    // An invalid size would leave rows of no cells behind and make the grid look tall enough for good.
    if (size.width() <= 0 || size.height() <= 0)
        return;
    if (!m_grid.isEmpty() && m_grid.size() >= size.height())
        return;
    m_grid.resize(size.height());
    for (QVector<FadingCell>& row : m_grid) {
        if (row.size() > size.width()) {
            row.resize(size.width());
            continue;
        }
        row.reserve(size.width());
        while (row.size() < size.width()) {
            FadingCell cell;
            cell.value = float(m_valueDistribution(m_engine));
            cell.direction = m_directionDistribution(m_engine);
            row.append(cell);
        }
    }
}

void FadingPixelSeasoning::advance()
{
    for (QVector<FadingCell>& row : m_grid) {
        FadingCell* cell = row.data();
        FadingCell* const end = cell + row.size();
        for (; cell != end; ++cell) {
            cell->value += (cell->direction > 0 ? 1.0f : -1.0f) * step;
            if (cell->value > maxValue) {
                cell->value = maxValue;
                cell->direction = -1;
            } else if (cell->value < minValue) {
                cell->value = minValue;
                cell->direction = 1;
            }
        }
    }
}
