#pragma once

#include "effects/AbstractColorProvider.h"

#include <atomic>

// The five colours that Razer Chroma applications broadcast, and whether the broadcast is live.
// One per process; the registry creates it and calls init() once.
// Called by the broadcast library on a thread of its own; always returns 1.
int chromaEventCallback(int type, void* data);

class RazerSdkColorProvider : public AbstractColorProvider
{
    Q_OBJECT
public:
    static RazerSdkColorProvider* instance();

    bool init() override;
    bool isAvailable() const;

signals:
    void availableChanged(bool available);

private:
    RazerSdkColorProvider();

    std::atomic_bool m_live{false};
};
