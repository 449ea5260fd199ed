#include "capture/ScreenGrabberImpFactory.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include "capture/win/D3D11Grabber.h"
#else
#include "capture/linux/PipeWireGrabber.h"
#include "capture/linux/XcbGrabber.h"
#include "core/SettingsManager.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#endif

#if !defined(Q_OS_WIN)
namespace {

const QString kRestoreToken = QStringLiteral("screen_cast_restore_token");

bool waylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The settings live on the GUI thread; the back end asks from the capture worker.
PipeWireGrabber* createPipeWireGrabber(SettingsManager* settings)
{
    if (!settings)
        return new PipeWireGrabber();
    const QPointer<SettingsManager> store(settings);
    auto load = [store]() {
        QString token;
        auto read = [&token, store] {
            if (store)
                token = store->value(kRestoreToken).toString();
        };
        if (!store)
            return token;
        if (store->thread() == QThread::currentThread())
            read();
        else
            QMetaObject::invokeMethod(store.data(), read, Qt::BlockingQueuedConnection);
        return token;
    };
    auto save = [store](const QString& token) {
        if (!store)
            return;
        QMetaObject::invokeMethod(
            store.data(),
            [store, token] {
                if (!store || store->value(kRestoreToken).toString() == token)
                    return;
                store->setValue(kRestoreToken, token);
                store->save();
            },
            Qt::QueuedConnection);
    };
    return new PipeWireGrabber(load, save);
}

} // namespace
#endif

ScreenGrabberImp* createScreenGrabberImp(SettingsManager* settings)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(settings);
    return new D3D11Grabber();
#else
    // XWayland's root window shows no native Wayland window: a Wayland session is captured through its
    // portal.
    if (waylandSession())
        return createPipeWireGrabber(settings);
    return new XcbGrabber();
#endif
}
