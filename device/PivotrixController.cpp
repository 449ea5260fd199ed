#include "device/PivotrixController.h"

#include "core/DiagnosticLog.h"
#include "device/PanelReply.h"

#include <QBuffer>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <cstring>

namespace {
const char* const kTooLargeProperty = "pivotrixReplyTooLarge";

// One clock for every controller: it only feeds the "sending too slow" log line.
QMutex g_sendClockLock;
QElapsedTimer g_sendClock;

void putLe16(char* at, quint16 value)
{
    at[0] = char(value & 0xFF);
    at[1] = char(value >> 8);
}

QByteArray indentedJson(const QVariantMap& map)
{
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Indented);
}

// Remembers the problem; true when it is not the one remembered already.
bool newProblem(QString& last, const QString& problem)
{
    if (last == problem)
        return false;
    last = problem;
    return true;
}
} // namespace

PivotrixController::PivotrixController(const QString& address, int port, const QString& apiKey,
                                       const QString& model, const QString& name, const QString& id)
    : m_address(address)
    , m_port(port)
    , m_apiKey(apiKey)
    , m_name(name)
    , m_model(model)
    , m_id(id)
    , m_hostAddress(hostOf(address))
{
    registerMetaTypes();
}

PivotrixController::~PivotrixController()
{
    if (m_managerShared)
        m_manager = nullptr;
}

void PivotrixController::registerMetaTypes()
{
    qRegisterMetaType<PivotrixController::NetworkState>("PivotrixController::NetworkState");
    qRegisterMetaType<PivotrixController::StreamingState>("PivotrixController::StreamingState");
}

QString PivotrixController::address() const
{
    return m_address;
}

int PivotrixController::port() const
{
    return m_port;
}

QString PivotrixController::apiKey() const
{
    return m_apiKey;
}

QString PivotrixController::name() const
{
    QMutexLocker locker(&m_lock);
    return m_name;
}

QString PivotrixController::serial() const
{
    QMutexLocker locker(&m_lock);
    return m_serial;
}

QString PivotrixController::osVersion() const
{
    QMutexLocker locker(&m_lock);
    return m_osVersion;
}

QString PivotrixController::model() const
{
    QMutexLocker locker(&m_lock);
    return m_model;
}

QString PivotrixController::deviceId() const
{
    return m_id;
}

PivotrixController::NetworkState PivotrixController::networkState() const
{
    QMutexLocker locker(&m_lock);
    return m_networkState;
}

PivotrixController::StreamingState PivotrixController::streamingState() const
{
    QMutexLocker locker(&m_lock);
    return m_streamingState;
}

bool PivotrixController::isStreaming() const
{
    return streamingState() == Receiving;
}

QSize PivotrixController::canvasSize() const
{
    QMutexLocker locker(&m_lock);
    return m_canvasSize;
}

QString PivotrixController::lastError() const
{
    QMutexLocker locker(&m_lock);
    return m_lastError;
}

QByteArray PivotrixController::sessionId() const
{
    QMutexLocker locker(&m_lock);
    return m_sessionId;
}

int PivotrixController::streamPort() const
{
    QMutexLocker locker(&m_lock);
    return m_streamPort;
}

void PivotrixController::setRenderMode(const QString& mode)
{
    QMutexLocker locker(&m_lock);
    m_renderMode = mode;
}

void PivotrixController::setPostProcessType(const QString& type)
{
    QMutexLocker locker(&m_lock);
    m_postProcessType = type;
    m_postProcessEffect = type == QLatin1String("effect") ? QStringLiteral("fading_pixels") : QString();
}

QString PivotrixController::renderMode() const
{
    QMutexLocker locker(&m_lock);
    return m_renderMode;
}

QString PivotrixController::postProcessType() const
{
    QMutexLocker locker(&m_lock);
    return m_postProcessType;
}

QVariantMap PivotrixController::buildStreamParams() const
{
    QString renderMode;
    QString type;
    QString effect;
    {
        QMutexLocker locker(&m_lock);
        renderMode = m_renderMode;
        type = m_postProcessType;
        effect = m_postProcessEffect;
    }
    QVariantMap postProcess{{QStringLiteral("type"), type}};
    if (!effect.isEmpty()) {
        const QVariantMap effectParams{{QStringLiteral("pixel_base"), 0.45}};
        postProcess.insert(QStringLiteral("params"),
                           QVariantMap{{QStringLiteral("effect_type"), effect},
                                       {QStringLiteral("effect_params"), effectParams}});
    }
    const QVariantMap canvas{{QStringLiteral("fill_type"), QStringLiteral("scale")},
                             {QStringLiteral("render_mode"), renderMode},
                             {QStringLiteral("post_process"), postProcess}};
    return QVariantMap{{QStringLiteral("canvas"), canvas}};
}

QByteArray PivotrixController::stopBody()
{
    const QVariantMap canvas{{QStringLiteral("fill_type"), QStringLiteral("scale")},
                             {QStringLiteral("render_mode"), QStringLiteral("pixel")}};
    return indentedJson(QVariantMap{{QStringLiteral("canvas"), canvas}});
}

QByteArray PivotrixController::authorizationHeader(const QString& apiKey)
{
    return QByteArrayLiteral("Basic ") + (apiKey.toUtf8() + ':').toBase64();
}

PivotrixController::StreamingState PivotrixController::streamingStateFromText(const QString& status)
{
    if (status == QLatin1String("receiving"))
        return Receiving;
    if (status == QLatin1String("standby"))
        return Standby;
    return Stopped;
}

QString PivotrixController::hostOf(const QString& address)
{
    if (!address.startsWith(QLatin1Char('[')) || !address.endsWith(QLatin1Char(']')))
        return address;
    QString host = address.mid(1, address.size() - 2);
    return host.replace(QLatin1String("%25"), QLatin1String("%"));
}

QUrl PivotrixController::deviceUrl(const QString& path) const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(hostOf(m_address));
    url.setPort(kApiPort);
    url.setPath(path);
    return url;
}

QNetworkAccessManager* PivotrixController::ensureManager()
{
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        m_managerShared = false;
    }
    return m_manager;
}

QNetworkReply* PivotrixController::startRequest(const QByteArray& verb, const QUrl& url,
                                                const QString& apiKey, QNetworkAccessManager* manager,
                                                const QByteArray& body, int timeoutMs, bool keepConnection)
{
    QNetworkRequest request(url);
    request.setRawHeader(QByteArrayLiteral("Authorization"), authorizationHeader(apiKey));
    if (!keepConnection)
        request.setRawHeader(QByteArrayLiteral("Connection"), QByteArrayLiteral("close"));
    // On the request rather than the manager, so a shared manager is bounded too.
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = manager->sendCustomRequest(request, verb, body);
    reply->ignoreSslErrors(
        {QSslError(QSslError::UnableToVerifyFirstCertificate), QSslError(QSslError::HostNameMismatch)});
    connect(reply, &QNetworkReply::sslErrors, reply, [](const QList<QSslError>& errors) {
        qCDebug(lcPivotrix) << "ssl errors received";
        for (const QSslError& error : errors)
            qCDebug(lcPivotrix) << error.error();
    });
    // A panel that answers with an endless body must not fill our memory.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if ((received > kMaxReplyBytes || total > kMaxReplyBytes) &&
            !reply->property(kTooLargeProperty).toBool()) {
            reply->setProperty(kTooLargeProperty, true);
            reply->abort();
        }
    });
    return reply;
}

int PivotrixController::finishReply(QNetworkReply* reply, QByteArray& replyBody, QString& errorText)
{
    if (reply->property(kTooLargeProperty).toBool()) {
        replyBody.clear();
        errorText = QStringLiteral("Reply too large");
        qCDebug(lcPivotrix) << "reply too large" << reply->url().toString();
        return 0;
    }
    // A reply given up on (timed out) is closed; reading it only has Qt warn, once per failed check.
    replyBody = reply->isOpen() ? reply->readAll() : QByteArray();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError) {
        // Logged by the caller, which knows whether the same failure was logged already.
        errorText = reply->error() == QNetworkReply::OperationCanceledError ? QStringLiteral("Timeout")
                                                                            : reply->errorString();
        return 0;
    }
    return status;
}

void PivotrixController::sendRequest(const QByteArray& verb, const QUrl& url, const QString& apiKey,
                                     QNetworkAccessManager* manager, ReplyCallback callback,
                                     const QByteArray& body)
{
    qCDebug(lcPivotrix) << "async request" << url.toString();
    QNetworkReply* reply = startRequest(verb, url, apiKey, manager, body, m_requestTimeoutMs);
    connect(reply, &QNetworkReply::finished, this, [reply, callback = std::move(callback)] {
        QByteArray replyBody;
        QString errorText;
        const int status = finishReply(reply, replyBody, errorText);
        callback(replyBody, status, errorText);
        reply->deleteLater();
    });
}

void PivotrixController::sendJsonRequest(const QByteArray& verb, const QUrl& url, const QString& apiKey,
                                         QNetworkAccessManager* manager, JsonCallback callback,
                                         const QByteArray& body)
{
    sendRequest(
        verb, url, apiKey, manager,
        [callback = std::move(callback)](const QByteArray& replyBody, int status, const QString& error) {
            callback(PanelReply::map(replyBody), status, error);
        },
        body);
}

int PivotrixController::sendRequestSync(const QByteArray& verb, const QUrl& url, const QString& apiKey,
                                        QNetworkAccessManager* manager, QByteArray& replyBody,
                                        const QByteArray& body, QString* errorText)
{
    QNetworkReply* reply = startRequest(verb, url, apiKey, manager, body, m_requestTimeoutMs);
    ++m_syncDepth;
    if (!reply->isFinished()) {
        QEventLoop loop;
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        // Only a thread told to quit leaves the loop early.
        if (!reply->isFinished())
            reply->abort();
    }
    --m_syncDepth;
    QString error;
    const int status = finishReply(reply, replyBody, error);
    if (!error.isEmpty())
        qCDebug(lcPivotrix) << "request failed" << verb << url.path() << error;
    if (errorText && !error.isEmpty())
        errorText->append(error);
    reply->deleteLater();
    return status;
}

void PivotrixController::setStreamingState(StreamingState state)
{
    {
        QMutexLocker locker(&m_lock);
        if (m_streamingState == state)
            return;
        m_streamingState = state;
    }
    emit streamEnabledChanged(state);
}

void PivotrixController::setNetworkState(NetworkState state)
{
    {
        QMutexLocker locker(&m_lock);
        if (m_networkState == state)
            return;
        m_networkState = state;
    }
    emit onlineChanged(state);
}

void PivotrixController::init(QNetworkAccessManager* sharedManager)
{
    qCDebug(lcPivotrix) << "init controller " << m_id << QThread::currentThread();
    if (sharedManager) {
        if (m_manager && !m_managerShared)
            m_manager->deleteLater();
        m_manager = sharedManager;
        m_managerShared = true;
    } else if (!m_manager || m_managerShared) {
        // A failed init is retried by every online check; one manager and socket per controller is enough.
        m_manager = nullptr;
        ensureManager();
    }
    if (!m_socket)
        m_socket = new QUdpSocket(this);

    QByteArray body;
    int status =
        sendRequestSync("GET", deviceUrl(QStringLiteral("/api/v2/device")), m_apiKey, m_manager, body);
    const QVariantMap reply = PanelReply::map(body);
    if (status != 200) {
        qCDebug(lcPivotrix) << "failed to get info" << reply << status;
        return;
    }
    {
        const PanelReply::DeviceInfo info = PanelReply::deviceInfo(reply);
        QMutexLocker locker(&m_lock);
        m_name = info.name;
        m_serial = info.serial;
        m_osVersion = info.osVersion;
        m_model = info.model;
    }

    body.clear();
    status =
        sendRequestSync("GET", deviceUrl(QStringLiteral("/api/v2/device/stream")), m_apiKey, m_manager, body);
    if (status != 200) {
        qCDebug(lcPivotrix) << "failed to get stream";
        return;
    }
    const QVariantMap stream = PanelReply::map(body);
    qCDebug(lcPivotrix) << "init" << stream;
    const StreamingState state = streamingStateFromText(PanelReply::status(stream));
    {
        QMutexLocker locker(&m_lock);
        m_canvasSize = PanelReply::canvas(stream, QSize(4, 8));
    }
    setStreamingState(state);
    qCDebug(lcPivotrix) << "init ok";
    setNetworkState(Online);
    QMutexLocker locker(&m_lock);
    m_initialised = true;
}

void PivotrixController::deinit()
{
    // Run only once no blocking request is on the stack: a stop still waiting for its reply would be sent
    // twice, and deleting the controller under a waiting request pulls its manager and reply away.
    if (m_syncDepth > 0) {
        QTimer::singleShot(5, this, &PivotrixController::deinit);
        return;
    }
    qCDebug(lcPivotrix) << "deinit" << m_id;
    if (isStreaming())
        stopStream();
    emit deinitFinished();
}

void PivotrixController::checkOnline()
{
    // The last error stays until this check has its answer: a row rebuilt meanwhile would show an
    // offline panel without its reason.
    qCDebug(lcPivotrix) << "check online";
    const quint64 askedAfter = streamReplies();
    sendJsonRequest("GET", deviceUrl(QStringLiteral("/api/v2/device/stream")), m_apiKey, ensureManager(),
                    [this, askedAfter](const QVariantMap& map, int status, const QString& error) {
                        takeCheckAnswer(map, status, error, askedAfter);
                    });
}

quint64 PivotrixController::streamReplies() const
{
    QMutexLocker locker(&m_lock);
    return m_streamReplies;
}

void PivotrixController::offerCheckAnswer(const QVariantMap& map, int status, const QString& error,
                                          quint64 askedAfter)
{
    {
        QMutexLocker locker(&m_lock);
        if (m_checkAnswersQueued == 0 && answerChangesNothing(map, status, askedAfter != m_streamReplies)) {
            m_lastError = error;
            return;
        }
        ++m_checkAnswersQueued;
    }
    QMetaObject::invokeMethod(
        this,
        [this, map, status, error, askedAfter] {
            takeCheckAnswer(map, status, error, askedAfter);
            QMutexLocker locker(&m_lock);
            --m_checkAnswersQueued;
        },
        Qt::QueuedConnection);
}

// What takeCheckAnswer would do with the answer, step by step, when it finds nothing to do.
bool PivotrixController::answerChangesNothing(const QVariantMap& map, int status, bool staleStream) const
{
    if (status != 200)
        return !m_checkProblem.isEmpty() && m_networkState == Offline;
    if (!m_checkProblem.isEmpty() || !m_initialised || m_networkState != Online ||
        PanelReply::canvas(map, QSize(0, 0)) != m_canvasSize)
        return false;
    if (m_streamRequestBusy || staleStream)
        return true;
    const StreamingState streaming = streamingStateFromText(PanelReply::status(map));
    return streaming == m_streamingState && (m_wantedStream != StartRequest || streaming == Receiving);
}

void PivotrixController::takeCheckAnswer(const QVariantMap& map, int status, const QString& error,
                                         quint64 askedAfter)
{
    bool staleStream = false;
    {
        QMutexLocker locker(&m_lock);
        m_lastError = error;
        staleStream = askedAfter != m_streamReplies;
    }
    if (status == 200) {
        takeCheckReply(map, staleStream);
    } else if (m_checkProblem.isEmpty()) {
        // Once per outage: the reason may change from check to check.
        const QString problem = error.isEmpty() ? QString::number(status) : error;
        {
            QMutexLocker locker(&m_lock);
            m_checkProblem = problem;
        }
        qCDebug(lcPivotrix) << "panel" << m_id << "unreachable:" << problem;
    }
    setNetworkState(status == 200 ? Online : Offline);
    emit checkOnlineFinished();
}

void PivotrixController::takeCheckReply(const QVariantMap& map, bool staleStream)
{
    if (!m_checkProblem.isEmpty()) {
        {
            QMutexLocker locker(&m_lock);
            m_checkProblem.clear();
        }
        qCDebug(lcPivotrix) << "panel" << m_id << "answers again";
    }
    if (!m_initialised) {
        init();
        return;
    }
    const StreamingState streaming = streamingStateFromText(PanelReply::status(map));
    const QSize canvas = PanelReply::canvas(map, QSize(0, 0));
    QSize before;
    {
        QMutexLocker locker(&m_lock);
        before = m_canvasSize;
        m_canvasSize = canvas;
    }
    // A reply without a size tells nothing new; a new size must reach the generator, or the panel refuses
    // every frame it paints.
    if (!canvas.isEmpty() && canvas != before)
        emit canvasChanged();
    // While a stream request is on its way, or once one was answered after this check was asked, the
    // panel's word may be older than that reply: the reply tells.
    if (m_streamRequestBusy || staleStream)
        return;
    // A start the panel never took (it was rebooting, refused or idled) is tried again at each check while
    // streaming is still our wish; a stream that ran and ended is for the device list to judge.
    const bool retry =
        m_wantedStream == StartRequest && streaming != Receiving && streamingState() != Receiving;
    setStreamingState(streaming);
    if (retry) {
        qCDebug(lcPivotrix) << "start not taken, again" << m_id;
        requestStream(StartRequest);
    }
}

void PivotrixController::startStream()
{
    requestStream(StartRequest);
}

void PivotrixController::stopStream()
{
    requestStream(StopRequest);
}

// Stream requests go out one at a time, in the order asked: on parallel connections a start could reach
// the panel before an earlier stop and leave it stopped for good. What is asked while one is in flight
// collapses into the last wish, sent once the reply is in; the reply of a request so overtaken is not
// reported, or its "standby" would read as the panel leaving the stream the next request asks for.
void PivotrixController::requestStream(StreamRequest request)
{
    bool busy = false;
    {
        QMutexLocker locker(&m_lock);
        m_wantedStream = request;
        busy = m_streamRequestBusy;
        m_streamRequestBusy = true;
    }
    if (busy) {
        qCDebug(lcPivotrix) << "stream request in flight, the next waits for it" << request;
        return;
    }
    StreamRequest sent;
    do {
        sent = m_wantedStream;
        const StreamingState state = sent == StartRequest ? sendStart() : sendStop();
        {
            QMutexLocker locker(&m_lock);
            ++m_streamReplies;
        }
        if (m_wantedStream == sent)
            setStreamingState(state);
    } while (m_wantedStream != sent);
    // A panel switched off holds no socket open (a frame sent later opens it again by itself).
    if (sent == StopRequest && m_socket)
        m_socket->close();
    QMutexLocker locker(&m_lock);
    m_streamRequestBusy = false;
}

PivotrixController::StreamingState PivotrixController::sendStart()
{
    {
        QMutexLocker locker(&m_lock);
        m_startInProgress = true;
    }
    StreamingState state = Stopped;
    const QVariantMap params = buildStreamParams();
    QByteArray body;
    const int status = sendRequestSync("PUT", deviceUrl(QStringLiteral("/api/v2/device/stream/start")),
                                       m_apiKey, ensureManager(), body, indentedJson(params));
    if (status == 200) {
        const QVariantMap reply = PanelReply::map(body);
        qCDebug(lcPivotrix) << "start resp" << reply;
        const PanelReply::StartGrant grant = PanelReply::startGrant(reply);
        state = streamingStateFromText(grant.status);
        // A reply that names no usable session must not replace the one we have.
        if (grant.usable()) {
            QMutexLocker locker(&m_lock);
            m_streamPort = grant.port;
            m_sessionId = grant.sessionId;
            m_lastStreamParams = params;
        } else {
            // Frames could only go to the previous session; a panel in standby is still reported as such.
            if (state == Receiving)
                state = Stopped;
        }
    }
    {
        QMutexLocker locker(&m_lock);
        m_startInProgress = false;
    }
    return state;
}

PivotrixController::StreamingState PivotrixController::sendStop()
{
    qCDebug(lcPivotrix) << "stop stream";
    StreamingState state = Stopped;
    QByteArray body;
    const int status = sendRequestSync("PUT", deviceUrl(QStringLiteral("/api/v2/device/stream/stop")),
                                       m_apiKey, ensureManager(), body, stopBody());
    if (status == 200) {
        qCDebug(lcPivotrix) << "stop success";
        state = streamingStateFromText(PanelReply::status(PanelReply::map(body)));
    }
    return state;
}

void PivotrixController::updateStreamParams()
{
    QVariantMap last;
    {
        QMutexLocker locker(&m_lock);
        if (m_startInProgress)
            return;
        last = m_lastStreamParams;
    }
    const QVariantMap params = buildStreamParams();
    if (!last.isEmpty() && QJsonObject::fromVariantMap(params) == QJsonObject::fromVariantMap(last))
        return;
    qCDebug(lcPivotrix) << "restart stream with new params";
    startStream();
}

QByteArray PivotrixController::buildFrame(const QImage& img, const QByteArray& sessionId,
                                          FrameEncoding encoding)
{
    const int width = img.isNull() ? 0 : img.width();
    const int height = img.isNull() ? 0 : img.height();
    if (width > 0xFFFF || height > 0xFFFF)
        return {};

    QByteArray payload;
    if (encoding == Raw) {
        const qint64 length = qint64(width) * height * 3;
        if (length > 0xFFFF)
            return {};
        payload.resize(int(length));
        if (length > 0) {
            const QImage rgb = img.convertToFormat(QImage::Format_RGB888);
            char* out = payload.data();
            for (int y = 0; y < height; ++y) {
                std::memcpy(out, rgb.constScanLine(y), size_t(width) * 3);
                out += width * 3;
            }
        }
    } else {
        const char* format = encoding == Png ? "png" : encoding == Jpeg ? "jpeg" : "gif";
        QBuffer buffer(&payload);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.write(img);
        if (payload.size() > 0xFFFF)
            return {};
    }

    char header[kHeaderSize] = {};
    std::memcpy(header, "pxsp", 4);
    putLe16(header + 4, 1);
    std::memcpy(header + 6, sessionId.constData(), size_t(qMin(16, sessionId.size())));
    header[22] = char(encoding);
    header[23] = 1;
    header[24] = 1;
    putLe16(header + 30, quint16(width));
    putLe16(header + 32, quint16(height));
    putLe16(header + 34, quint16(payload.size()));

    QByteArray frame;
    frame.reserve(kHeaderSize + payload.size() + kTrailerSize);
    frame.append(header, kHeaderSize);
    frame.append(payload);
    frame.append(kTrailerSize, '\0');
    return frame;
}

void PivotrixController::restartSendTiming()
{
    QMutexLocker locker(&g_sendClockLock);
    g_sendClock.invalidate();
}

void PivotrixController::sendStreamImage(const QImage& img)
{
    {
        QMutexLocker locker(&g_sendClockLock);
        if (g_sendClock.isValid() && g_sendClock.elapsed() > 50)
            qCDebug(lcPivotrix) << "sending too slow" << g_sendClock.elapsed()
                                << QThread::currentThread()->objectName();
        g_sendClock.restart();
    }
    if (img.isNull())
        qCDebug(lcPivotrix) << "invalid data" << img;

    QByteArray session;
    quint16 port = 0;
    {
        QMutexLocker locker(&m_lock);
        session = m_sessionId;
        port = quint16(m_streamPort & 0xFFFF);
    }
    // The frame timer starts with the start request; until a session is granted there is nowhere to send.
    if (port == 0)
        return;
    const QByteArray frame = buildFrame(img, session, m_frameEncoding);
    if (frame.isEmpty()) {
        // The 16-bit length field cannot describe it; a truncated frame would only show garbage.
        if (newProblem(m_sendProblem,
                       QStringLiteral("frame too large, dropped %1x%2").arg(img.width()).arg(img.height())))
            qCDebug(lcPivotrix).noquote() << m_sendProblem;
        return;
    }
    if (!m_socket)
        m_socket = new QUdpSocket(this);
    if (m_socket->writeDatagram(frame, m_hostAddress, port) < 0) {
        if (newProblem(m_sendProblem, QStringLiteral("send data error: ") + m_socket->errorString()))
            qCDebug(lcPivotrix).noquote() << m_sendProblem;
        return;
    }
    if (newProblem(m_sendProblem, QString()))
        qCDebug(lcPivotrix) << "frames sent again";
    m_framesSent.fetch_add(1, std::memory_order_relaxed);
}
