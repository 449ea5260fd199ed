#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QImage>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <atomic>
#include <functional>

class QNetworkReply;
class QUdpSocket;

// Speaks to one light panel: HTTP control on port 8080 and the UDP frame stream.
// Lives on its device's controller thread; the accessors may be read from any thread.
class PivotrixController : public QObject
{
    Q_OBJECT
public:
    enum NetworkState
    {
        NotChecked = 0,
        Offline = 1,
        Online = 2
    };
    Q_ENUM(NetworkState)

    enum StreamingState
    {
        Receiving = 0,
        Stopped = 1,
        Standby = 2
    };
    Q_ENUM(StreamingState)

    enum FrameEncoding
    {
        Raw = 0,
        Png = 1,
        Jpeg = 2,
        Gif = 3
    };

    static constexpr int kApiPort = 8080;
    static constexpr int kHeaderSize = 36;
    static constexpr int kTrailerSize = 2;
    // Reply bodies beyond this are refused instead of being buffered.
    static constexpr qint64 kMaxReplyBytes = 1024 * 1024;
    // A panel that accepts the connection and never answers must not hold its thread: every request
    // gives up after this long without data, well inside one online check period.
    static constexpr int kDefaultRequestTimeoutMs = 5000;

    using ReplyCallback = std::function<void(const QByteArray& body, int status, const QString& error)>;
    using JsonCallback = std::function<void(const QVariantMap& map, int status, const QString& error)>;

    PivotrixController(const QString& address, int port, const QString& apiKey, const QString& model,
                       const QString& name, const QString& id);
    ~PivotrixController() override;

    static void registerMetaTypes();

    QString address() const;
    int port() const;
    QString apiKey() const;
    QString name() const;
    QString serial() const;
    QString osVersion() const;
    QString model() const;
    QString deviceId() const;
    NetworkState networkState() const;
    StreamingState streamingState() const;
    bool isStreaming() const;
    QSize canvasSize() const;
    QString lastError() const;
    QByteArray sessionId() const;
    int streamPort() const;
    quint64 framesSent() const { return m_framesSent.load(std::memory_order_relaxed); }

    void setRenderMode(const QString& mode);
    void setPostProcessType(const QString& type);
    QString renderMode() const;
    QString postProcessType() const;
    QVariantMap buildStreamParams() const;

    static QByteArray authorizationHeader(const QString& apiKey);
    static StreamingState streamingStateFromText(const QString& status);
    // One "pxsp" datagram for the image, or an empty array when it cannot be carried in one.
    static QByteArray buildFrame(const QImage& img, const QByteArray& sessionId,
                                 FrameEncoding encoding = Raw);
    static QByteArray stopBody();
    // Frames resume after a pause, which is no slow sending; any thread.
    static void restartSendTiming();

    // The numeric host of a stored address ("fe80::1%eth0"); the bracketed, "%25"-escaped URL form earlier
    // versions stored ("[fe80::1%25eth0]") reads as the same host.
    static QString hostOf(const QString& address);
    QUrl deviceUrl(const QString& path) const;
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    int requestTimeout() const { return m_requestTimeoutMs; }

    // One request with the panel's authorization, given up on after timeoutMs without data and refused
    // beyond kMaxReplyBytes; on the thread of manager. finishReply reads its status, body and error.
    // keepConnection false asks the panel to close the connection with its answer.
    static QNetworkReply* startRequest(const QByteArray& verb, const QUrl& url, const QString& apiKey,
                                       QNetworkAccessManager* manager, const QByteArray& body, int timeoutMs,
                                       bool keepConnection = true);
    static int finishReply(QNetworkReply* reply, QByteArray& replyBody, QString& errorText);

    // The answer to an online check of a shared round (OnlineCheckRound), on the round's thread. One that
    // changes nothing (the panel still online with the same stream and canvas, or still unreachable) is
    // taken there; any other wakes the controller thread. Between answers lastError() keeps the last one's
    // error: it does not go blank while a check waits for its answer.
    // `askedAfter`: streamReplies() when the check was asked. A stream request answered meanwhile (or still
    // on its way) makes the answer's stream state stale: the panel may have answered the check before it
    // took the request, on another connection, and the request's own reply is the newer word.
    void offerCheckAnswer(const QVariantMap& map, int status, const QString& error, quint64 askedAfter);
    quint64 streamReplies() const;

public slots:
    virtual void init(QNetworkAccessManager* sharedManager = nullptr);
    virtual void deinit();
    virtual void checkOnline();
    virtual void startStream();
    virtual void stopStream();
    virtual void sendStreamImage(const QImage& img);
    void updateStreamParams();

signals:
    void streamEnabledChanged(PivotrixController::StreamingState state);
    void onlineChanged(PivotrixController::NetworkState state);
    void checkOnlineFinished();
    void deinitFinished();
    // The panel reported a canvas other than the last one it named (tiles added or taken away).
    void canvasChanged();

private:
    void sendRequest(const QByteArray& verb, const QUrl& url, const QString& apiKey,
                     QNetworkAccessManager* manager, ReplyCallback callback, const QByteArray& body = {});
    void sendJsonRequest(const QByteArray& verb, const QUrl& url, const QString& apiKey,
                         QNetworkAccessManager* manager, JsonCallback callback, const QByteArray& body = {});
    int sendRequestSync(const QByteArray& verb, const QUrl& url, const QString& apiKey,
                        QNetworkAccessManager* manager, QByteArray& replyBody, const QByteArray& body = {},
                        QString* errorText = nullptr);
    QNetworkAccessManager* ensureManager();

    // A check's answer, on the controller thread.
    void takeCheckAnswer(const QVariantMap& map, int status, const QString& error, quint64 askedAfter);
    // Whether taking the answer would change nothing; under m_lock.
    bool answerChangesNothing(const QVariantMap& map, int status, bool staleStream) const;
    // A check the panel answered: its stream state and canvas, or the init an earlier failure left undone.
    void takeCheckReply(const QVariantMap& map, bool staleStream);
    void setStreamingState(StreamingState state);
    void setNetworkState(NetworkState state);
    enum StreamRequest
    {
        StartRequest,
        StopRequest
    };
    void requestStream(StreamRequest request);
    StreamingState sendStart();
    StreamingState sendStop();

    QNetworkAccessManager* m_manager = nullptr;
    bool m_managerShared = false;

    // Guards every field below that the GUI thread may read.
    mutable QMutex m_lock;
    const QString m_address;
    const int m_port;
    const QString m_apiKey;
    QString m_name;
    QString m_serial;
    QString m_osVersion;
    QString m_model;
    const QString m_id;
    StreamingState m_streamingState = Stopped;

    QByteArray m_sessionId;
    QSize m_canvasSize{0, 0};
    NetworkState m_networkState = NotChecked;
    bool m_startInProgress = false;
    // Written on the controller thread only, under the lock: a shared round reads them to judge an answer.
    bool m_streamRequestBusy = false;
    quint64 m_streamReplies = 0;
    StreamRequest m_wantedStream = StopRequest;
    bool m_initialised = false;
    QString m_checkProblem;
    // Answers handed to the controller thread and not yet taken: later ones queue behind them, or an answer
    // judged against the state before them would be dropped while they change it.
    int m_checkAnswersQueued = 0;
    // Controller thread only.
    int m_streamPort = 0;
    FrameEncoding m_frameEncoding = Raw;
    QUdpSocket* m_socket = nullptr;
    QString m_renderMode = QStringLiteral("triangle");
    QString m_postProcessType = QStringLiteral("none");
    QString m_postProcessEffect = QStringLiteral("fading_pixels");
    QVariantMap m_lastStreamParams;
    QString m_lastError;

    QHostAddress m_hostAddress;
    // What went wrong last with sending frames, and (m_checkProblem) why the panel became unreachable; each
    // is logged when it first shows and when it ends: a panel away for a day must not fill the log with a
    // line per check or frame.
    QString m_sendProblem;
    // Blocking requests on the stack; deletion must wait until none is left.
    int m_syncDepth = 0;
    std::atomic<quint64> m_framesSent{0};
    std::atomic<int> m_requestTimeoutMs{kDefaultRequestTimeoutMs};
};
