#include "effects/EffectGeneratorWithColorProvider.h"

#include <QMutexLocker>

EffectGeneratorWithColorProvider::EffectGeneratorWithColorProvider(QObject* parent)
    : EffectGenerator(parent)
{}

EffectGeneratorWithColorProvider::~EffectGeneratorWithColorProvider() = default;

void EffectGeneratorWithColorProvider::setColorProvider(QSharedPointer<AbstractColorProvider> provider)
{
    QMutexLocker lock(&m_providerMutex);
    // Compare against the live provider: a new one may sit at the address of one already destroyed.
    if (provider && m_provider.toStrongRef() == provider)
        return;
    m_provider = provider;
}

QList<QColor> EffectGeneratorWithColorProvider::providerColors() const
{
    QSharedPointer<AbstractColorProvider> provider;
    {
        QMutexLocker lock(&m_providerMutex);
        provider = m_provider.toStrongRef();
    }
    // The strong reference keeps the provider alive until the read is over, even if the page lets go.
    return provider ? provider->colors() : QList<QColor>();
}
