#include "capture/GrabManager.h"

#include "capture/ScreenGrabber.h"
#include "capture/ScreenGrabberImpFactory.h"
#include "core/DiagnosticLog.h"
#include "core/SettingsManager.h"

#include <QDebug>
#include <QMetaObject>
#include <QThread>

namespace {
const QString kRestoreToken = QStringLiteral("screen_cast_restore_token");
}

GrabManager::GrabManager(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread)
{
    qRegisterMetaType<QSharedPointer<FrameProcessorBase>>("QSharedPointer<FrameProcessorBase>");

    // The registry that owns this manager also owns the settings store, where the back end's restore token
    // is kept. The store is read and written here on the GUI thread only; the worker never reaches for it.
    m_settings =
        parent ? parent->findChild<SettingsManager*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    m_grabber = new ScreenGrabber(createScreenGrabberImp());
    connect(m_grabber, &ScreenGrabber::screensReinited, this, &GrabManager::screensReinited);
    connect(m_grabber, &ScreenGrabber::userDisabledGrab, this, &GrabManager::userDisabledGrab);
    connect(m_grabber, &ScreenGrabber::restoreTokenChanged, this, &GrabManager::storeRestoreToken);
    // Direct: emitted where the worker runs, so that each receiver gets it queued to its own thread.
    connect(m_grabber, &ScreenGrabber::frameProcessed, this, &GrabManager::frameProcessed,
            Qt::DirectConnection);
    m_grabber->moveToThread(m_thread);

    m_thread->setObjectName(QStringLiteral("screen-grab-worker"));
    m_thread->start(QThread::InheritPriority);
}

GrabManager::~GrabManager()
{
    if (!m_thread->isRunning()) {
        delete m_grabber;
        delete m_thread;
        return;
    }
    m_grabber->deleteLater();
    m_thread->quit();
    if (m_thread->wait(ShutdownWaitMs)) {
        delete m_thread;
        return;
    }
    // Destroying a running QThread aborts the process; leave it to finish on its own.
    qCDebug(lcPivotrix) << "screen grab worker did not stop in time";
    QThread* thread = m_thread;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    if (thread->isFinished())
        thread->deleteLater();
}

void GrabManager::init()
{
    QMetaObject::invokeMethod(m_grabber, "init");
}

void GrabManager::start()
{
    QMetaObject::invokeMethod(m_grabber, "start", Q_ARG(int, GrabIntervalMs));
}

void GrabManager::addFrameProcessor(QSharedPointer<FrameProcessorBase> proc)
{
    // The settings are loaded after this manager is made: the token goes along with the first use.
    const QString token = m_settings ? m_settings->value(kRestoreToken).toString() : QString();
    if (token != m_handedToken) {
        m_handedToken = token;
        QMetaObject::invokeMethod(m_grabber, "setRestoreToken", Q_ARG(QString, token));
    }
    QMetaObject::invokeMethod(m_grabber, "addFrameProcessor",
                              Q_ARG(QSharedPointer<FrameProcessorBase>, proc));
}

void GrabManager::removeFrameProcessor(QSharedPointer<FrameProcessorBase> proc)
{
    QMetaObject::invokeMethod(m_grabber, "removeFrameProcessor",
                              Q_ARG(QSharedPointer<FrameProcessorBase>, proc));
}

void GrabManager::setSystemLocked(bool locked)
{
    QMetaObject::invokeMethod(m_grabber, "setSystemLocked", Q_ARG(bool, locked));
}

void GrabManager::storeRestoreToken(const QString& token)
{
    m_handedToken = token;
    if (!m_settings || m_settings->value(kRestoreToken).toString() == token)
        return;
    m_settings->setValue(kRestoreToken, token);
    m_settings->save();
}

QList<ScreenInfo> GrabManager::screens() const
{
    return m_grabber->screens();
}
