#pragma once

#include <QProxyStyle>

// The platform's widget style, except that the extension button's arrow (shown by a menu bar only when
// its menus do not fit) is read when first drawn rather than when the bar is built. Qt reads that
// picture by offering it to every image plugin installed, which loads them all (TIFF, WebP, MNG and
// their libraries) before the window could show.
class LazyIconStyle : public QProxyStyle
{
    Q_OBJECT
public:
    // Takes ownership of `base`.
    explicit LazyIconStyle(QStyle* base);

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};
