#pragma once

#include "effects/AbstractColorProvider.h"
#include "effects/ChromaSdkLoader.h"

#include <atomic>

// The five colours that Razer Chroma applications broadcast, and whether the broadcast is live.
// One per process; the registry creates it and calls init() once.
// Called by the broadcast library on a thread of its own; always returns 1.
int chromaEventCallback(int type, void* data);

class RazerSdkColorProvider : public AbstractColorProvider
{
    Q_OBJECT
public:
    // The identifier this application presents to the broadcast library.
    static const ChromaAppGuid kApplicationId;

    static RazerSdkColorProvider* instance();

    // A provider of its own over another loader; broadcasts still reach only instance().
    explicit RazerSdkColorProvider(ChromaSdkLoader loader, QObject* parent = nullptr);
    // Unregisters from the library and unloads it.
    ~RazerSdkColorProvider() override;

    bool init() override;
    bool isAvailable() const;

signals:
    void availableChanged(bool available);

private:
    friend int chromaEventCallback(int type, void* data);

    RazerSdkColorProvider();
    void setLive(bool live);

    ChromaSdkLoader m_loader;
    std::atomic_bool m_live{false};
};
