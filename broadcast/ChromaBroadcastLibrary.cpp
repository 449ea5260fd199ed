// The broadcast library's entry points, looked up by name by the program that loads it.

#include "broadcast/ChromaBroadcastChannel.h"
#include "broadcast/ChromaBroadcastServer.h"
#include "effects/ChromaBroadcastApi.h"

#include <QDebug>

#include <memory>
#include <mutex>

#define CHROMA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::mutex g_lock;
std::unique_ptr<ChromaBroadcastServer> g_server;

enum : int
{
    kOk = 0,
    kNotInitialised = 1,
    kNoChannel = 2
};
} // namespace

CHROMA_EXPORT int Init(ChromaAppGuid appId)
{
    Q_UNUSED(appId)
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_server)
        return kOk;
    QString error;
    const QString path = ChromaBroadcastChannel::socketPath(&error);
    if (path.isEmpty()) {
        qDebug() << "chroma broadcast: no channel," << error;
        return kNoChannel;
    }
    auto server = std::make_unique<ChromaBroadcastServer>(path);
    if (!server->start(&error)) {
        qDebug() << "chroma broadcast: cannot listen," << error;
        return kNoChannel;
    }
    g_server = std::move(server);
    return kOk;
}

CHROMA_EXPORT int RegisterEventNotification(ChromaEventCallback callback)
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_server)
        return kNotInitialised;
    g_server->setCallback(callback);
    return kOk;
}

CHROMA_EXPORT int UnRegisterEventNotification()
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_server)
        g_server->setCallback(nullptr);
    return kOk;
}

CHROMA_EXPORT int UnInit()
{
    std::unique_ptr<ChromaBroadcastServer> server;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        server = std::move(g_server);
    }
    // Joins the reading thread outside the lock.
    server.reset();
    return kOk;
}
