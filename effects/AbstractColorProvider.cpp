#include "effects/AbstractColorProvider.h"

#include <QMutexLocker>

AbstractColorProvider::AbstractColorProvider(QObject* parent)
    : QObject(parent)
{}

AbstractColorProvider::~AbstractColorProvider() = default;

bool AbstractColorProvider::init()
{
    return false;
}

QList<QColor> AbstractColorProvider::colors() const
{
    // Copying the handle while another thread assigns it is a race on the handle itself, so readers
    // take the lock too; the copy is only a reference count bump.
    QMutexLocker lock(&m_mutex);
    return m_colors;
}

void AbstractColorProvider::updateColors(QList<QColor> newColors)
{
    {
        QMutexLocker lock(&m_mutex);
        // QList's equality is true for shared data as well as for equal colours at every position.
        if (m_colors == newColors)
            return;
        m_colors = std::move(newColors);
    }
    emit colorsChanged();
}

bool AbstractColorProvider::isInitialized() const
{
    QMutexLocker lock(&m_mutex);
    return m_initialized;
}

void AbstractColorProvider::setInitialized(bool initialized)
{
    QMutexLocker lock(&m_mutex);
    m_initialized = initialized;
}
