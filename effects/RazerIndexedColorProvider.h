#pragma once

#include "effects/AbstractColorProvider.h"

#include <QList>
#include <QMutex>

// Picks the colours at the chosen positions out of another provider, in the chosen order.
class RazerIndexedColorProvider : public AbstractColorProvider
{
    Q_OBJECT
public:
    // The source is not owned and must outlive this provider.
    RazerIndexedColorProvider(AbstractColorProvider* source, QObject* parent = nullptr);
    ~RazerIndexedColorProvider() override;

    QList<QColor> colors() const override;

public slots:
    void updateIndexes(QList<int> newIndexes);

private:
    AbstractColorProvider* m_source;
    QList<int> m_indexes;
    mutable QMutex m_indexesMutex;
};
