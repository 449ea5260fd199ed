#include "ui/LazyIconStyle.h"

#include <QIconEngine>
#include <QPainter>
#include <QPointer>

namespace {
// Asks the style for the icon the first time anything wants to know about it.
class DeferredIconEngine : public QIconEngine
{
public:
    DeferredIconEngine(QStyle* style, QStyle::StandardPixmap which)
        : m_style(style)
        , m_which(which)
    {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }

    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

    void virtual_hook(int id, void* data) override
    {
        if (id == AvailableSizesHook) {
            auto* argument = static_cast<AvailableSizesArgument*>(data);
            argument->sizes = icon().availableSizes(argument->mode, argument->state);
            return;
        }
        QIconEngine::virtual_hook(id, data);
    }

private:
    const QIcon& icon()
    {
        if (!m_made && m_style) {
            m_icon = m_style->standardIcon(m_which);
            m_made = true;
        }
        return m_icon;
    }

    QPointer<QStyle> m_style;
    QStyle::StandardPixmap m_which;
    QIcon m_icon;
    bool m_made = false;
};
} // namespace

LazyIconStyle::LazyIconStyle(QStyle* base)
    : QProxyStyle(base)
{}

QIcon LazyIconStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                                  const QWidget* widget) const
{
    if (standardIcon == SP_ToolBarHorizontalExtensionButton)
        return QIcon(new DeferredIconEngine(baseStyle(), standardIcon));
    return QProxyStyle::standardIcon(standardIcon, option, widget);
}
