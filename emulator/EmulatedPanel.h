#pragma once

#include "emulator/FrameStatistics.h"
#include "emulator/PanelConfig.h"
#include "emulator/PanelProtocol.h"

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

class ConnectionResetter;
class PanelStreamReceiver;

// One panel stand-in: the control API on <address>:<apiPort>, a UDP receiver per stream session and a
// read-only status endpoint on <address>:<statusPort>. Thread-safe; the HTTP handlers run on the
// servers' worker threads.
class EmulatedPanel
{
public:
    explicit EmulatedPanel(const PanelConfig& config);
    ~EmulatedPanel();

    EmulatedPanel(const EmulatedPanel&) = delete;
    EmulatedPanel& operator=(const EmulatedPanel&) = delete;

    // Protocols are added before start(); the device API and the status endpoint are built in.
    void addProtocol(std::unique_ptr<PanelProtocol> protocol);
    bool start(QString* error = nullptr);
    void stop();

    QString address() const { return m_config.address; }
    QString id() const { return m_config.id; }
    QString name() const { return m_config.name; }
    QString model() const { return m_config.model; }
    // The key the panel requires; pairing replaces it.
    QString apiKey() const;
    void setApiKey(const QString& key);
    QSize canvas() const;
    // A new canvas (tiles added or taken away): the stream reply reports it and frames must fill it.
    void setCanvas(const QSize& canvas);
    int apiPort() const { return m_config.apiPort; }
    int statusPort() const { return m_config.statusPort; }

    void setFault(PanelFault fault);
    PanelFault fault() const;
    void setReplyDelay(int ms) { m_replyDelayMs = ms; }
    int replyDelay() const { return m_replyDelayMs; }
    void setReportCanvasSize(bool report) { m_reportCanvasSize = report; }
    // Ends the running session the way an idle panel does.
    void dropToStandby();
    // Another client's start: a new session, with a new id and port, replaces the running one.
    void renewSession();

    // For protocols: applies the reply delay, the 500 fault and the key check and counts the call under
    // `call`; returns false when the reply has been decided here.
    bool admit(const httplib::Request& request, httplib::Response& response, const QString& call,
               bool needsKey = true);
    static void replyJson(httplib::Response& response, int status, const QJsonObject& body);

    QJsonObject deviceInfo() const;
    QJsonObject streamReply() const;
    // Opens a fresh session (ending any other) and returns the start reply with its HTTP status.
    QJsonObject startStream(const QByteArray& body, int* status);
    QJsonObject stopStream();

    struct Stream
    {
        QString status;
        QByteArray sessionId;
        int port = 0;
        QJsonObject params;
        QByteArray lastAuthorization;
    };
    Stream stream() const;
    QMap<QString, quint64> requestCounts() const;
    FrameStatistics& statistics() { return m_statistics; }
    QImage lastFrame() const { return m_statistics.lastFrame(); }
    QJsonObject statusJson() const;
    // What a protocol lights instead of the streamed picture (a pairing colour); invalid when nothing.
    QColor shownColor() const;
    // The control endpoint: fault, reply delay and standby for panels in another process.
    QJsonObject control(const QByteArray& body, int* status);

private:
    struct HttpServer;
    bool openServer(std::unique_ptr<HttpServer>& slot, int port, bool api, QString* error);
    void closeServer(std::unique_ptr<HttpServer>& slot);
    // Opens what the fault leaves on the API port (the server, a resetter or nothing) and closes the rest.
    bool applyApiFault(PanelFault fault, QString* error);
    void endSessionLocked();
    void countCall(const QString& call);
    QByteArray newSessionId() const;

    const PanelConfig m_config;
    std::vector<std::unique_ptr<PanelProtocol>> m_protocols;
    std::unique_ptr<HttpServer> m_apiServer;
    std::unique_ptr<HttpServer> m_statusServer;
    std::unique_ptr<ConnectionResetter> m_resetter;
    // Serialises start, stop and fault changes against each other.
    std::mutex m_controlLock;

    mutable std::mutex m_lock;
    PanelFault m_fault;
    QString m_apiKey;
    QSize m_canvas;
    QString m_streamStatus = QStringLiteral("standby");
    QByteArray m_sessionId;
    QJsonObject m_params;
    QByteArray m_lastAuthorization;
    QMap<QString, quint64> m_calls;
    std::unique_ptr<PanelStreamReceiver> m_receiver;

    std::atomic<int> m_replyDelayMs;
    std::atomic<bool> m_reportCanvasSize;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_running{false};
    FrameStatistics m_statistics;
};
