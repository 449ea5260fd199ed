#include "emulator/EmulatedPanel.h"

#include "emulator/ConnectionResetter.h"
#include "emulator/PanelDeviceApi.h"
#include "emulator/PanelStreamReceiver.h"
#include "emulator/PanelUserApi.h"

#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>

namespace {
// Only address reuse: two emulators must never share one address and port unnoticed.
void reuseAddressOnly(socket_t sock)
{
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}
} // namespace

QString faultName(PanelFault fault)
{
    switch (fault) {
    case PanelFault::None:
        return QStringLiteral("none");
    case PanelFault::Offline:
        return QStringLiteral("offline");
    case PanelFault::Http500:
        return QStringLiteral("http500");
    case PanelFault::Standby:
        return QStringLiteral("standby");
    case PanelFault::Hang:
        return QStringLiteral("hang");
    case PanelFault::Reset:
        return QStringLiteral("reset");
    }
    return QString();
}

bool faultFromName(const QString& name, PanelFault* fault)
{
    for (PanelFault f : {PanelFault::None, PanelFault::Offline, PanelFault::Http500, PanelFault::Standby,
                         PanelFault::Hang, PanelFault::Reset}) {
        if (faultName(f) == name) {
            *fault = f;
            return true;
        }
    }
    return false;
}

struct EmulatedPanel::HttpServer
{
    httplib::Server http;
    std::thread thread;
};

EmulatedPanel::EmulatedPanel(const PanelConfig& config)
    : m_config(config)
    , m_fault(config.fault)
    , m_apiKey(config.apiKey)
    , m_canvas(config.canvas)
    , m_replyDelayMs(config.replyDelayMs)
    , m_reportCanvasSize(config.reportCanvasSize)
{
    m_protocols.push_back(std::make_unique<PanelDeviceApi>(this));
    m_protocols.push_back(std::make_unique<PanelUserApi>(this, config.pairingSupported,
                                                         config.pairingDurationS, config.pairingColorIndex));
}

QString EmulatedPanel::apiKey() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_apiKey;
}

void EmulatedPanel::setApiKey(const QString& key)
{
    std::lock_guard<std::mutex> locker(m_lock);
    m_apiKey = key;
    if (m_config.keyFile.isEmpty())
        return;
    QSaveFile file(m_config.keyFile);
    const QByteArray text = key.toUtf8() + '\n';
    // Unbuffered: a full disk must fail the write, not commit an empty key file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(text) != text.size() ||
        !file.commit() ||
        !QFile::setPermissions(m_config.keyFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        qWarning("prism-emulator: the key is not kept in %s: %s", qPrintable(m_config.keyFile),
                 qPrintable(file.errorString()));
}

QColor EmulatedPanel::shownColor() const
{
    for (const auto& protocol : m_protocols) {
        const QColor color = protocol->shownColor();
        if (color.isValid())
            return color;
    }
    return QColor();
}

EmulatedPanel::~EmulatedPanel()
{
    stop();
}

void EmulatedPanel::addProtocol(std::unique_ptr<PanelProtocol> protocol)
{
    m_protocols.push_back(std::move(protocol));
}

bool EmulatedPanel::openServer(std::unique_ptr<HttpServer>& slot, int port, bool api, QString* error)
{
    auto server = std::make_unique<HttpServer>();
    httplib::Server& http = server->http;
    http.new_task_queue = [api] {
        return new httplib::ThreadPool(api ? 4 : 1);
    };
    http.set_socket_options(reuseAddressOnly);
    http.set_keep_alive_timeout(2);
    http.set_payload_max_length(1 << 20);
    if (api) {
        for (const auto& protocol : m_protocols)
            protocol->registerRoutes(http);
    } else {
        http.Get("/emulator/status", [this](const httplib::Request&, httplib::Response& response) {
            replyJson(response, 200, statusJson());
        });
        http.Put("/emulator/control", [this](const httplib::Request& request, httplib::Response& response) {
            int status = 200;
            const QJsonObject reply = control(QByteArray::fromStdString(request.body), &status);
            replyJson(response, status, reply);
        });
    }
    if (!http.bind_to_port(m_config.address.toStdString(), port)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2").arg(m_config.address).arg(port);
        return false;
    }
    HttpServer* raw = server.get();
    server->thread = std::thread([raw] { raw->http.listen_after_bind(); });
    // stop() is ignored by a server that has not begun listening yet.
    for (int i = 0; i < 2000 && !raw->http.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    slot = std::move(server);
    if (api) {
        for (const auto& protocol : m_protocols)
            protocol->panelOnline();
    }
    return true;
}

void EmulatedPanel::closeServer(std::unique_ptr<HttpServer>& slot)
{
    if (!slot)
        return;
    slot->http.stop();
    if (slot->thread.joinable())
        slot->thread.join();
    slot.reset();
}

bool EmulatedPanel::start(QString* error)
{
    std::lock_guard<std::mutex> control(m_controlLock);
    m_stopping = false;
    if (!openServer(m_statusServer, m_config.statusPort, false, error))
        return false;
    if (!applyApiFault(fault(), error)) {
        closeServer(m_statusServer);
        return false;
    }
    m_running = true;
    return true;
}

void EmulatedPanel::stop()
{
    m_stopping = true;
    std::unique_ptr<HttpServer> status;
    {
        std::lock_guard<std::mutex> control(m_controlLock);
        status = std::move(m_statusServer);
        m_running = false;
    }
    // Outside the control lock: a control request on this server may be waiting for it.
    closeServer(status);
    std::lock_guard<std::mutex> control(m_controlLock);
    applyApiFault(PanelFault::Offline, nullptr);
    std::lock_guard<std::mutex> locker(m_lock);
    endSessionLocked();
}

bool EmulatedPanel::applyApiFault(PanelFault fault, QString* error)
{
    const bool serving = fault != PanelFault::Offline && fault != PanelFault::Reset;
    if (!serving && m_apiServer) {
        closeServer(m_apiServer);
        for (const auto& protocol : m_protocols)
            protocol->panelOffline();
    }
    if (fault != PanelFault::Reset)
        m_resetter.reset();
    if (fault == PanelFault::Reset && !m_resetter) {
        auto resetter = std::make_unique<ConnectionResetter>();
        QString why;
        if (!resetter->start(m_config.address, m_config.apiPort, error ? error : &why))
            return false;
        m_resetter = std::move(resetter);
    }
    return !serving || m_apiServer || openServer(m_apiServer, m_config.apiPort, true, error);
}

void EmulatedPanel::setFault(PanelFault fault)
{
    std::lock_guard<std::mutex> control(m_controlLock);
    {
        std::lock_guard<std::mutex> locker(m_lock);
        m_fault = fault;
        if (fault == PanelFault::Offline || fault == PanelFault::Standby)
            endSessionLocked();
    }
    QString error;
    if (m_running.load() && !applyApiFault(fault, &error))
        qWarning("emulator: %s", qPrintable(error));
}

PanelFault EmulatedPanel::fault() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_fault;
}

void EmulatedPanel::dropToStandby()
{
    std::lock_guard<std::mutex> locker(m_lock);
    endSessionLocked();
}

void EmulatedPanel::renewSession()
{
    QJsonObject params;
    {
        std::lock_guard<std::mutex> locker(m_lock);
        if (m_sessionId.isEmpty())
            return;
        params = m_params;
    }
    int status = 0;
    startStream(QJsonDocument(params).toJson(), &status);
}

QSize EmulatedPanel::canvas() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_canvas;
}

void EmulatedPanel::setCanvas(const QSize& canvas)
{
    std::lock_guard<std::mutex> locker(m_lock);
    m_canvas = canvas;
    if (m_receiver)
        m_receiver->setCanvas(canvas);
}

void EmulatedPanel::endSessionLocked()
{
    if (m_receiver) {
        m_receiver->stop();
        m_receiver.reset();
    }
    m_sessionId.clear();
    m_streamStatus = QStringLiteral("standby");
}

void EmulatedPanel::countCall(const QString& call)
{
    std::lock_guard<std::mutex> locker(m_lock);
    ++m_calls[call];
}

void EmulatedPanel::replyJson(httplib::Response& response, int status, const QJsonObject& body)
{
    response.status = status;
    response.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                         "application/json");
}

bool EmulatedPanel::admit(const httplib::Request& request, httplib::Response& response, const QString& call,
                          bool needsKey)
{
    countCall(call);
    // Sleep in slices so that stopping the panel is not held up by a slow reply; a hung panel holds the
    // request until the fault ends.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_replyDelayMs.load());
    while (!m_stopping.load() && (std::chrono::steady_clock::now() < until || fault() == PanelFault::Hang))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    const QByteArray authorization = QByteArray::fromStdString(request.get_header_value("Authorization"));
    {
        std::lock_guard<std::mutex> locker(m_lock);
        m_lastAuthorization = authorization;
    }
    if (fault() == PanelFault::Http500) {
        countCall(QStringLiteral("failed"));
        replyJson(response, 500, QJsonObject{{QStringLiteral("error"), QStringLiteral("internal error")}});
        return false;
    }
    if (needsKey) {
        const QByteArray expected = QByteArrayLiteral("Basic ") + (apiKey().toUtf8() + ':').toBase64();
        if (authorization != expected) {
            countCall(QStringLiteral("unauthorized"));
            replyJson(response, 401, QJsonObject{{QStringLiteral("error"), QStringLiteral("unauthorized")}});
            return false;
        }
    }
    return true;
}

QJsonObject EmulatedPanel::deviceInfo() const
{
    return QJsonObject{{QStringLiteral("name"), m_config.name},
                       {QStringLiteral("serial"), m_config.serial},
                       {QStringLiteral("os_version"), m_config.osVersion},
                       {QStringLiteral("model"), m_config.model},
                       {QStringLiteral("id"), m_config.id}};
}

QJsonObject EmulatedPanel::streamReply() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    QJsonObject pixel;
    if (m_reportCanvasSize.load())
        pixel.insert(QStringLiteral("size"), QJsonObject{{QStringLiteral("width"), m_canvas.width()},
                                                         {QStringLiteral("height"), m_canvas.height()}});
    return QJsonObject{{QStringLiteral("status"), m_streamStatus},
                       {QStringLiteral("canvas"), QJsonObject{{QStringLiteral("pixel"), pixel}}}};
}

QByteArray EmulatedPanel::newSessionId() const
{
    if (!m_config.sessionId.isEmpty())
        return QByteArray::fromHex(m_config.sessionId.toLatin1());
    QByteArray id(16, '\0');
    for (char& c : id)
        c = char(QRandomGenerator::global()->bounded(256));
    return id;
}

QJsonObject EmulatedPanel::startStream(const QByteArray& body, int* status)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (!document.isObject()) {
        *status = 400;
        return QJsonObject{
            {QStringLiteral("error"), QStringLiteral("stream parameters must be a JSON object")}};
    }
    std::lock_guard<std::mutex> locker(m_lock);
    endSessionLocked();
    m_params = document.object();
    *status = 200;
    if (m_fault == PanelFault::Standby) {
        const QJsonObject data{{QStringLiteral("status"), QStringLiteral("standby")},
                               {QStringLiteral("port"), 0},
                               {QStringLiteral("session_id"), QString()}};
        return QJsonObject{{QStringLiteral("success"), QJsonObject{{QStringLiteral("data"), data}}}};
    }
    const QByteArray session = newSessionId();
    auto receiver = std::make_unique<PanelStreamReceiver>(m_config.address, session, m_canvas, &m_statistics);
    QString error;
    if (!receiver->start(&error)) {
        *status = 500;
        return QJsonObject{{QStringLiteral("error"), error}};
    }
    m_statistics.breakGapChain();
    m_receiver = std::move(receiver);
    m_sessionId = session;
    m_streamStatus = QStringLiteral("receiving");
    const QJsonObject data{{QStringLiteral("status"), m_streamStatus},
                           {QStringLiteral("port"), int(m_receiver->port())},
                           {QStringLiteral("session_id"), QString::fromLatin1(session.toHex())}};
    return QJsonObject{{QStringLiteral("success"), QJsonObject{{QStringLiteral("data"), data}}}};
}

QJsonObject EmulatedPanel::stopStream()
{
    std::lock_guard<std::mutex> locker(m_lock);
    endSessionLocked();
    return QJsonObject{{QStringLiteral("status"), m_streamStatus}};
}

QJsonObject EmulatedPanel::control(const QByteArray& body, int* status)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonObject request = document.object();
    PanelFault newFault = PanelFault::None;
    const bool faultGiven = request.contains(QStringLiteral("fault"));
    const QJsonValue delay = request.value(QStringLiteral("reply_delay_ms"));
    const QJsonValue canvasText = request.value(QStringLiteral("canvas"));
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("^([1-9]\\d{0,4})x([1-9]\\d{0,4})$")).match(canvasText.toString());
    if (!document.isObject() ||
        (faultGiven && !faultFromName(request.value(QStringLiteral("fault")).toString(), &newFault)) ||
        (!delay.isUndefined() && (!delay.isDouble() || delay.toDouble() < 0 || delay.toDouble() > 600000)) ||
        (!canvasText.isUndefined() && !size.hasMatch())) {
        *status = 400;
        return QJsonObject{{QStringLiteral("error"),
                            QStringLiteral("want {\"fault\": none|offline|http500|standby|hang|reset, "
                                           "\"reply_delay_ms\": n, \"standby\": true, \"renew_session\": "
                                           "true, \"canvas\": \"WIDTHxHEIGHT\"}")}};
    }
    if (!delay.isUndefined())
        setReplyDelay(delay.toInt());
    if (size.hasMatch())
        setCanvas(QSize(size.captured(1).toInt(), size.captured(2).toInt()));
    if (request.value(QStringLiteral("standby")).toBool())
        dropToStandby();
    if (request.value(QStringLiteral("renew_session")).toBool())
        renewSession();
    if (faultGiven) {
        // Closing the API server from one of the status server's workers is fine: they are separate.
        setFault(newFault);
    }
    *status = 200;
    return statusJson();
}

EmulatedPanel::Stream EmulatedPanel::stream() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    Stream s;
    s.status = m_streamStatus;
    s.sessionId = m_sessionId;
    s.port = m_receiver ? m_receiver->port() : 0;
    s.params = m_params;
    s.lastAuthorization = m_lastAuthorization;
    return s;
}

QMap<QString, quint64> EmulatedPanel::requestCounts() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_calls;
}

QJsonObject EmulatedPanel::statusJson() const
{
    const Stream s = stream();
    QJsonObject calls;
    const QMap<QString, quint64> counts = requestCounts();
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        calls.insert(it.key(), double(it.value()));
    QJsonObject status = m_statistics.toJson();
    status.insert(QStringLiteral("name"), m_config.name);
    status.insert(QStringLiteral("id"), m_config.id);
    status.insert(QStringLiteral("model"), m_config.model);
    status.insert(QStringLiteral("address"), m_config.address);
    status.insert(QStringLiteral("api_port"), m_config.apiPort);
    status.insert(QStringLiteral("fault"), faultName(fault()));
    status.insert(QStringLiteral("reply_delay_ms"), m_replyDelayMs.load());
    const QSize size = canvas();
    status.insert(QStringLiteral("canvas"), QJsonObject{{QStringLiteral("width"), size.width()},
                                                        {QStringLiteral("height"), size.height()}});
    status.insert(QStringLiteral("stream"),
                  QJsonObject{{QStringLiteral("status"), s.status},
                              {QStringLiteral("session_id"), QString::fromLatin1(s.sessionId.toHex())},
                              {QStringLiteral("port"), s.port},
                              {QStringLiteral("params"), s.params}});
    status.insert(QStringLiteral("requests"), calls);
    for (const auto& protocol : m_protocols)
        protocol->addStatus(status);
    return status;
}
