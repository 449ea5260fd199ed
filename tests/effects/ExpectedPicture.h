#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QStringList>

// The expected picture as one letter per pixel naming a colour of the list ('a' the first), rows from the
// top.
inline QImage picture(const QStringList& rows, const QList<QColor>& colors)
{
    QImage img(rows.first().size(), rows.size(), QImage::Format_ARGB32);
    for (int y = 0; y < rows.size(); ++y)
        for (int x = 0; x < rows.at(y).size(); ++x)
            img.setPixel(x, y, colors.at(rows.at(y).at(x).toLatin1() - 'a').rgba());
    return img;
}

inline QStringList repeat(int count, const char* row)
{
    QStringList rows;
    for (int i = 0; i < count; ++i)
        rows << QString::fromLatin1(row);
    return rows;
}
