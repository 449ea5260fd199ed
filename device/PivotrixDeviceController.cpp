#include "device/PivotrixDeviceController.h"

#include "core/DiagnosticLog.h"
#include "device/FramePacer.h"
#include "device/OnlineCheckRound.h"
#include "effects/EffectGenerator.h"

#include <QDebug>
#include <QMetaObject>
#include <QThread>

PivotrixDeviceController::PivotrixDeviceController(const QString& address, int port, const QString& apiKey,
                                                   const QString& name, const QString& model,
                                                   const QString& id, int onlineCheckMs, int frameMs,
                                                   int requestTimeoutMs,
                                                   std::shared_ptr<OnlineCheckRound> checks)
    : m_checks(std::move(checks))
    , m_onlineCheckMs(onlineCheckMs)
    , m_frameMs(frameMs)
{
    PivotrixController::registerMetaTypes();
    m_thread = new QThread();
    m_controller = new PivotrixController(address, port, apiKey, model, name, id);
    m_controller->setRequestTimeout(requestTimeoutMs);
    connect(m_controller, &PivotrixController::onlineChanged, this,
            &PivotrixDeviceController::onOnlineChanged);
    connect(m_controller, &PivotrixController::streamEnabledChanged, this,
            &PivotrixDeviceController::streamEnabledChanged);
    connect(m_controller, &PivotrixController::canvasChanged, this, [this] {
        if (m_generator)
            resizeGenerator();
    });

    m_controller->moveToThread(m_thread);
    m_thread->setObjectName(QStringLiteral("controller-thread") + id);
    PivotrixController* controller = m_controller;
    connect(m_thread, &QThread::started, controller, [controller] { controller->init(); });
    m_thread->start(QThread::InheritPriority);

    startTicking();
}

void PivotrixDeviceController::startTicking()
{
    qCDebug(lcPivotrix) << "start ticking" << name();
    if (!m_checks || m_checks->period() != m_onlineCheckMs)
        m_checks = OnlineCheckRound::start(m_onlineCheckMs);
    m_checks->join(m_controller);

    m_pacer = new FramePacer(m_frameMs);
    m_pacer->moveToThread(m_thread);
}

PivotrixDeviceController::~PivotrixDeviceController()
{
    // Before the controller may go: the round calls it from its own thread.
    m_checks->leave(m_controller);
    if (m_thread->isRunning() && m_controller) {
        // Every connection is in place before deinit is queued: the controller may be gone right after.
        connect(m_controller, &PivotrixController::deinitFinished, m_controller, &QObject::deleteLater);
        // Direct: quit() is thread-safe, and the GUI thread may be blocked waiting for this thread at exit.
        connect(m_controller, &QObject::destroyed, m_thread, &QThread::quit, Qt::DirectConnection);
        connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        // Stop the ticks first so no frame follows the stop request.
        QMetaObject::invokeMethod(m_pacer, "stop", Qt::QueuedConnection);
        m_pacer->deleteLater();
        QMetaObject::invokeMethod(m_controller, "deinit", Qt::QueuedConnection);
    } else if (m_controller) {
        delete m_pacer;
        delete m_controller;
        delete m_thread;
    } else {
        m_thread->deleteLater();
    }
    m_pacer = nullptr;
    m_generator.clear();
}

void PivotrixDeviceController::startStream()
{
    qCDebug(lcPivotrix) << "send start stream";
    m_sendingFrames = true;
    QMetaObject::invokeMethod(m_controller, "startStream", Qt::QueuedConnection);
    QPointer<EffectGenerator> generator = qobject_cast<EffectGenerator*>(m_generator.data());
    FramePacer* pacer = m_pacer;
    QMetaObject::invokeMethod(
        m_pacer,
        [pacer, generator] {
            if (!pacer->isRunning()) {
                PivotrixController::restartSendTiming();
                if (generator)
                    generator->restartFrameTiming();
            }
            pacer->start();
        },
        Qt::QueuedConnection);
}

void PivotrixDeviceController::stopStream()
{
    qCDebug(lcPivotrix) << "send stop stream";
    m_sendingFrames = false;
    QMetaObject::invokeMethod(m_controller, "stopStream", Qt::QueuedConnection);
    QMetaObject::invokeMethod(m_pacer, "stop", Qt::QueuedConnection);
}

void PivotrixDeviceController::updateStreamParams()
{
    QMetaObject::invokeMethod(m_controller, "updateStreamParams", Qt::QueuedConnection);
}

void PivotrixDeviceController::setRenderMode(const QString& mode)
{
    // The controller guards these texts, so they are in place before any later queued call runs.
    m_controller->setRenderMode(mode);
}

void PivotrixDeviceController::setPostProcessType(const QString& type)
{
    m_controller->setPostProcessType(type);
}

void PivotrixDeviceController::setEffectGenerator(const QSharedPointer<QObject>& generator,
                                                  QObject* pictureSource)
{
    setPictureSource(generator ? pictureSource : nullptr);
    if (generator == m_generator)
        return;
    if (m_generator) {
        QObject::disconnect(m_pacer, nullptr, m_generator.data(), nullptr);
        QObject::disconnect(m_generator.data(), nullptr, m_controller, nullptr);
    }
    m_generator = generator;
    if (!m_generator)
        return;

    QObject* gen = m_generator.data();
    if (!QObject::connect(gen, SIGNAL(canvasUpdated(QImage)), m_controller, SLOT(sendStreamImage(QImage)),
                          Qt::DirectConnection))
        qCDebug(lcPivotrix) << "generator has no canvasUpdated(QImage)" << gen;
    if (!QObject::connect(m_pacer, SIGNAL(tick()), gen, SLOT(update()), Qt::UniqueConnection))
        qCDebug(lcPivotrix) << "generator has no update()" << gen;
    if (gen->thread() != m_thread)
        gen->moveToThread(m_thread);
    // A generator attached before kept the time of its last frame there.
    if (auto* effect = qobject_cast<EffectGenerator*>(gen))
        QMetaObject::invokeMethod(
            effect, [effect] { effect->restartFrameTiming(); }, Qt::QueuedConnection);
    resizeGenerator();
}

void PivotrixDeviceController::setPictureSource(QObject* source)
{
    if (m_pictureSource == source)
        return;
    if (m_pictureSource)
        QObject::disconnect(m_pictureSource, SIGNAL(frameProcessed()), m_pacer, SLOT(sourceTicked()));
    m_pictureSource = source;
    // Queued: the source signals on its own thread, the pacer runs on ours.
    if (source && !QObject::connect(source, SIGNAL(frameProcessed()), m_pacer, SLOT(sourceTicked()),
                                    Qt::QueuedConnection))
        qCDebug(lcPivotrix) << "picture source has no frameProcessed()" << source;
}

void PivotrixDeviceController::resizeGenerator()
{
    QMetaObject::invokeMethod(m_generator.data(), "resize", Qt::QueuedConnection,
                              Q_ARG(QSize, m_controller->canvasSize()));
}

void PivotrixDeviceController::onOnlineChanged(PivotrixController::NetworkState state)
{
    if (state == PivotrixController::Online) {
        if (m_generator)
            resizeGenerator();
        else
            qCDebug(lcPivotrix) << "no effect generator";
    }
    emit onlineChanged(state);
}

QString PivotrixDeviceController::address() const
{
    return m_controller->address();
}

int PivotrixDeviceController::port() const
{
    return m_controller->port();
}

QString PivotrixDeviceController::apiKey() const
{
    return m_controller->apiKey();
}

QString PivotrixDeviceController::deviceId() const
{
    return m_controller->deviceId();
}

QString PivotrixDeviceController::name() const
{
    return m_controller->name();
}

QString PivotrixDeviceController::model() const
{
    return m_controller->model();
}

QString PivotrixDeviceController::lastError() const
{
    return m_controller->lastError();
}

QSize PivotrixDeviceController::canvasSize() const
{
    return m_controller->canvasSize();
}

PivotrixController::NetworkState PivotrixDeviceController::networkState() const
{
    return m_controller->networkState();
}

PivotrixController::StreamingState PivotrixDeviceController::streamingState() const
{
    return m_controller->streamingState();
}

bool PivotrixDeviceController::isStreaming() const
{
    return m_controller->isStreaming();
}

bool PivotrixDeviceController::isOnline() const
{
    return !m_removed && m_controller->networkState() == PivotrixController::Online;
}
