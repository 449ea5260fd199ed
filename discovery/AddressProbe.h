#pragma once

#include "discovery/MdnsRecordCollector.h"
#include "discovery/PivotrixBSS.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkReply;
class QTimer;
class QUdpSocket;

// What answers at an address the user typed. A host name is resolved first; then the address itself is
// asked for the panel's DNS-SD records by a one-shot query from a port other than 5353, which a responder
// answers straight back (RFC 6762 section 5.5), so it works where multicast does not pass. Responders may
// ignore queries from another subnet: when none comes back, the panel's API port is asked whether anything
// is there, and the panel is identified once it is paired.
class AddressProbe : public QObject
{
    Q_OBJECT
public:
    enum State
    {
        Idle,
        Resolving,
        Querying,
        ProbingApi
    };
    Q_ENUM(State)

    // Each step gives up after this long; tests shorten it.
    static constexpr int kDefaultAnswerMs = 3000;

    explicit AddressProbe(QObject* parent = nullptr);
    ~AddressProbe() override;

    // The host to probe from what the user typed (an IPv6 address may come in brackets), or an empty text
    // with the reason, for the user, in `error`.
    static QString parseInput(const QString& text, QString* error);

    void start(const QString& host);
    State state() const { return m_state; }
    void setAnswerTimeout(int ms) { m_answerMs = ms; }

signals:
    // A complete record, told by the address itself.
    void identified(PivotrixBSS device);
    // Something answers on the API port but told nothing over DNS-SD: only address and port are known.
    void unidentified(PivotrixBSS device);
    void failed(QString message);

private:
    void resolved(const QHostAddress& address);
    void sendQuery();
    void readReplies();
    void probeApi();
    void apiAnswered(QNetworkReply* reply);
    void tick();
    void enter(State state);

    State m_state = Idle;
    int m_answerMs = kDefaultAnswerMs;
    QString m_host;
    QHostAddress m_address;
    int m_lookupId = -1;
    quint16 m_queryId = 0;
    int m_ticks = 0;
    MdnsRecordCollector m_collector;
    QTimer* m_timer = nullptr;
    QUdpSocket* m_socket = nullptr;
    QPointer<QNetworkReply> m_reply;
};
