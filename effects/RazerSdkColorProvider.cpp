#include "effects/RazerSdkColorProvider.h"

RazerSdkColorProvider* RazerSdkColorProvider::instance()
{
    // Lives until the process ends: the broadcast library may call back up to the very end.
    static auto* provider = new RazerSdkColorProvider();
    return provider;
}

RazerSdkColorProvider::RazerSdkColorProvider() = default;

bool RazerSdkColorProvider::init()
{
    setInitialized(false);
    return false;
}

bool RazerSdkColorProvider::isAvailable() const
{
    return m_live;
}

int chromaEventCallback(int type, void* data)
{
    Q_UNUSED(type)
    Q_UNUSED(data)
    return 1;
}
