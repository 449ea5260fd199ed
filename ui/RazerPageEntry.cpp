#include "ui/RazerPageEntry.h"

RazerPageEntry::RazerPageEntry(QSharedPointer<EffectGeneratorFadingPixel> generator,
                               QSharedPointer<RazerIndexedColorProvider> provider)
    : m_generator(std::move(generator))
    , m_provider(std::move(provider))
{}
