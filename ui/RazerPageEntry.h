#pragma once

#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/RazerIndexedColorProvider.h"

#include <QSharedPointer>

// The tab's references to one device page's generator and colour picker; both die through deleteLater,
// each on its own thread.
class RazerPageEntry
{
public:
    RazerPageEntry(QSharedPointer<EffectGeneratorFadingPixel> generator,
                   QSharedPointer<RazerIndexedColorProvider> provider);

    QSharedPointer<EffectGeneratorFadingPixel> generator() const { return m_generator; }
    QSharedPointer<RazerIndexedColorProvider> provider() const { return m_provider; }

private:
    QSharedPointer<EffectGeneratorFadingPixel> m_generator;
    QSharedPointer<RazerIndexedColorProvider> m_provider;
};
