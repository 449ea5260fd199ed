#include "effects/RazerIndexedColorProvider.h"

#include <QMetaType>
#include <QMutexLocker>

RazerIndexedColorProvider::RazerIndexedColorProvider(AbstractColorProvider* source, QObject* parent)
    : AbstractColorProvider(parent)
    , m_source(source)
{
    // Pages hand new selections over by name with this argument type.
    qRegisterMetaType<QList<int>>("QList<int>");
}

RazerIndexedColorProvider::~RazerIndexedColorProvider() = default;

QList<QColor> RazerIndexedColorProvider::colors() const
{
    if (!m_source)
        return {};
    const QList<QColor> source = m_source->colors();
    QList<int> indexes;
    {
        QMutexLocker lock(&m_indexesMutex);
        indexes = m_indexes;
    }
    QList<QColor> picked;
    picked.reserve(indexes.size());
    for (int index : qAsConst(indexes)) {
        if (index >= 0 && index < source.size())
            picked.append(source.at(index));
    }
    return picked;
}

void RazerIndexedColorProvider::updateIndexes(QList<int> newIndexes)
{
    QMutexLocker lock(&m_indexesMutex);
    m_indexes = std::move(newIndexes);
}
