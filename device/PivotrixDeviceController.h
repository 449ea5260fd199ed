#pragma once

#include "device/PivotrixController.h"

#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QSize>
#include <QString>

#include <memory>

class FramePacer;
class OnlineCheckRound;
class QThread;

// The GUI-thread face of one paired panel. Owns the panel's thread, on which its PivotrixController,
// the frame pacer and the attached effect generator live, and its place in a round of online checks.
class PivotrixDeviceController : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultOnlineCheckMs = 15000;
    static constexpr int kDefaultFrameMs = 30;

    PivotrixDeviceController(const QString& address, int port, const QString& apiKey, const QString& name,
                             const QString& model, const QString& id,
                             int onlineCheckMs = kDefaultOnlineCheckMs, int frameMs = kDefaultFrameMs,
                             int requestTimeoutMs = PivotrixController::kDefaultRequestTimeoutMs,
                             std::shared_ptr<OnlineCheckRound> checks = {});
    ~PivotrixDeviceController() override;

    void startStream();
    void stopStream();
    void updateStreamParams();
    void setRenderMode(const QString& mode);
    void setPostProcessType(const QString& type);

    // Any QObject with a canvasUpdated(QImage) signal and update() and resize(QSize) slots; the shared
    // pointer's deleter should be deleteLater so the generator dies on its own thread. A generator that
    // shows pictures made elsewhere names their maker, a QObject with a frameProcessed() signal emitted
    // once each picture is ready: its frames then follow that signal (see FramePacer).
    void setEffectGenerator(const QSharedPointer<QObject>& generator, QObject* pictureSource = nullptr);
    QSharedPointer<QObject> effectGenerator() const { return m_generator; }

    void setIndex(int index) { m_index = index; }
    int index() const { return m_index; }
    void markRemoved() { m_removed = true; }
    bool isRemoved() const { return m_removed; }

    QString address() const;
    int port() const;
    QString apiKey() const;
    QString deviceId() const;
    QString name() const;
    QString model() const;
    QString lastError() const;
    QSize canvasSize() const;
    PivotrixController::NetworkState networkState() const;
    PivotrixController::StreamingState streamingState() const;
    bool isStreaming() const;
    // Whether our frames are paced: between our startStream and stopStream, whatever the panel reports.
    bool isSendingFrames() const { return m_sendingFrames; }
    bool isOnline() const;

    int onlineCheckInterval() const { return m_onlineCheckMs; }
    int frameInterval() const { return m_frameMs; }

    // The link itself lives on the controller thread: only thread-safe accessors and queued calls.
    PivotrixController* controller() const { return m_controller; }
    // Ends once the queued deinit has run during destruction; the registry waits on it at exit.
    QThread* controllerThread() const { return m_thread; }

signals:
    void onlineChanged(PivotrixController::NetworkState state);
    void streamEnabledChanged(PivotrixController::StreamingState state);

public slots:
    void onOnlineChanged(PivotrixController::NetworkState state);

private:
    void startTicking();
    void resizeGenerator();
    void setPictureSource(QObject* source);

    bool m_removed = false;
    bool m_sendingFrames = false;
    QThread* m_thread = nullptr;
    PivotrixController* m_controller = nullptr;
    // The panels of a registry share one round; a device made on its own has a round of its own.
    std::shared_ptr<OnlineCheckRound> m_checks;
    // Lives on the controller thread.
    FramePacer* m_pacer = nullptr;
    QSharedPointer<QObject> m_generator;
    QPointer<QObject> m_pictureSource;
    int m_index = 0;
    const int m_onlineCheckMs;
    const int m_frameMs;
};
