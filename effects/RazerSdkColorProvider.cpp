#include "effects/RazerSdkColorProvider.h"

#include "core/DiagnosticLog.h"

#include <QDebug>

#include <cstdint>
#include <cstring>
#include <exception>

namespace {
// Read by the library's thread, so it is cleared before the provider goes.
std::atomic<RazerSdkColorProvider*> g_instance{nullptr};
} // namespace

const ChromaAppGuid RazerSdkColorProvider::kApplicationId = {
    0x3F7A2C91, 0x5D08, 0x4E6B, {0xB2, 0xA4, 0x9C, 0x1E, 0x0F, 0x6D, 0x8A, 0x53}};

RazerSdkColorProvider* RazerSdkColorProvider::instance()
{
    RazerSdkColorProvider* provider = g_instance.load();
    if (!provider) {
        provider = new RazerSdkColorProvider();
        g_instance.store(provider);
    }
    return provider;
}

RazerSdkColorProvider::RazerSdkColorProvider() = default;

RazerSdkColorProvider::RazerSdkColorProvider(ChromaSdkLoader loader, QObject* parent)
    : AbstractColorProvider(parent)
    , m_loader(std::move(loader))
{}

RazerSdkColorProvider::~RazerSdkColorProvider()
{
    RazerSdkColorProvider* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
    // Unregistering waits for a notification still running on the library's thread.
    m_loader.unload();
}

bool RazerSdkColorProvider::init()
{
    int result = ChromaSdkLoader::FunctionFailed;
    try {
        result = m_loader.loadAndInit(kApplicationId);
    } catch (const std::exception& e) {
        qCDebug(lcPivotrix).noquote() << QStringLiteral("RazerSdkColorProvider: failed to init sdk ") +
                                             QString::fromLocal8Bit(e.what());
        result = ChromaSdkLoader::FunctionFailed;
    }
    const bool ok = result == ChromaSdkLoader::Success;
    if (ok) {
        qCDebug(lcPivotrix) << "RazerSdkColorProvider: try register events";
        const int e = m_loader.registerEvents(&chromaEventCallback);
        if (e != 0)
            qCDebug(lcPivotrix) << "RazerSdkColorProvider: failed to register events" << e;
        else
            qCDebug(lcPivotrix) << "RazerSdkColorProvider: registered event";
    }
    setInitialized(ok);
    return ok;
}

bool RazerSdkColorProvider::isAvailable() const
{
    return m_live;
}

void RazerSdkColorProvider::setLive(bool live)
{
    if (m_live.exchange(live) != live)
        emit availableChanged(live);
}

int chromaEventCallback(int type, void* data)
{
    RazerSdkColorProvider* provider = g_instance.load();
    if (!provider)
        return 1;
    if (type == ChromaEventEffect) {
        if (!data)
            return 1;
        // The library owes us no alignment.
        std::uint32_t values[5];
        std::memcpy(values, data, sizeof(values));
        QList<QColor> colors;
        colors.reserve(5);
        for (std::uint32_t v : values)
            colors << QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
        provider->updateColors(colors);
    } else if (type == ChromaEventStatus) {
        const auto status = reinterpret_cast<std::intptr_t>(data);
        if (status == ChromaStatusLive) {
            qCDebug(lcPivotrix) << "RazerSdkColorProvider: live";
            provider->setLive(true);
        } else if (status == ChromaStatusNotLive) {
            qCDebug(lcPivotrix) << "RazerSdkColorProvider: dead";
            provider->setLive(false);
        }
    }
    return 1;
}
