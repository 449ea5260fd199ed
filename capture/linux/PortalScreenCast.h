#pragma once

#include "capture/linux/PortalStream.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

// One screen-cast session of the desktop portal (org.freedesktop.portal.ScreenCast): CreateSession,
// SelectSources, Start, each answered by a Response signal on its request object, then OpenPipeWireRemote.
// Asynchronous: lives on the thread that drives it and reports through signals.
class PortalScreenCast : public QObject
{
    Q_OBJECT
public:
    enum class Phase
    {
        Idle,
        Busy,
        Started,
        Failed,
        Closed,
    };

    using Stream = PortalStream;

    explicit PortalScreenCast(const QDBusConnection& bus, QObject* parent = nullptr);
    ~PortalScreenCast() override;

    // Starts the handshake for monitors; a non-empty token asks the portal to reuse an earlier choice.
    void open(const QString& restoreToken);
    // Closes the portal session; the object may be opened again.
    void close();

    Phase phase() const { return m_phase; }
    QList<Stream> streams() const { return m_streams; }
    QString restoreToken() const { return m_restoreToken; }
    QString failure() const { return m_failure; }
    // The user said no in the desktop's dialog (rather than the portal failing).
    bool refusedByUser() const { return m_refusedByUser; }
    // The desktop itself ended the started session (its "Stop sharing"), rather than the portal going away.
    bool closedByDesktop() const { return m_closedByDesktop; }

    // The PipeWire connection the session grants; -1 on failure. The caller owns the descriptor.
    int openPipeWireRemote();

    // Timeout of each portal call (not of the user's choice, which may take as long as it takes).
    void setCallTimeout(int ms) { m_callTimeoutMs = ms; }

signals:
    // Phase left Busy: Started or Failed.
    void finished();
    // The portal ended a started session (the compositor or portal went away, the user stopped it).
    void closed();

private slots:
    void onResponse(uint response, const QVariantMap& results);
    void onSessionClosed();

private:
    void sessionEnded(bool byDesktop);
    enum class Step
    {
        None,
        CreateSession,
        SelectSources,
        Start,
    };

    bool request(Step step, const QString& method, const QVariantList& leadingArgs, QVariantMap options);
    void selectSources();
    void unsubscribeRequest();
    void fail(const QString& why);
    QString newToken();

    QDBusConnection m_bus;
    Phase m_phase = Phase::Idle;
    Step m_step = Step::None;
    QString m_requestPath;
    QString m_sessionPath;
    QString m_pendingToken;
    QString m_restoreToken;
    QString m_failure;
    bool m_refusedByUser = false;
    bool m_closedByDesktop = false;
    QList<Stream> m_streams;
    int m_callTimeoutMs = 10000;
    quint32 m_tokenCounter = 0;
};
