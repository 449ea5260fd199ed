#pragma once

#include "effects/AbstractColorProvider.h"
#include "effects/EffectGenerator.h"

#include <QMutex>
#include <QSharedPointer>
#include <QWeakPointer>

// A generator that reads its colours from a provider it does not own.
class EffectGeneratorWithColorProvider : public EffectGenerator
{
    Q_OBJECT
public:
    explicit EffectGeneratorWithColorProvider(QObject* parent = nullptr);
    ~EffectGeneratorWithColorProvider() override;

    void setColorProvider(QSharedPointer<AbstractColorProvider> provider);
    // Empty once the provider is gone.
    QList<QColor> providerColors() const;

private:
    // The page may swap providers from the GUI thread while a frame reads on the device thread.
    mutable QMutex m_providerMutex;
    QWeakPointer<AbstractColorProvider> m_provider;
};
