#include "device/OnlineCheckRound.h"

#include "core/DiagnosticLog.h"
#include "device/PanelReply.h"
#include "device/PivotrixController.h"

#include <QDebug>
#include <QMetaObject>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>
#include <QVector>

std::shared_ptr<OnlineCheckRound> OnlineCheckRound::start(int periodMs)
{
    auto* round = new OnlineCheckRound(periodMs);
    QThread* thread = round->m_thread.get();
    thread->setObjectName(QStringLiteral("online-check"));
    round->moveToThread(thread);
    // Direct: finished is emitted on the round's thread as it ends, while the manager may still be deleted
    // there.
    connect(thread, &QThread::finished, round, &OnlineCheckRound::stop, Qt::DirectConnection);
    thread->start();
    return std::shared_ptr<OnlineCheckRound>(round, [](OnlineCheckRound* r) {
        r->m_thread->quit();
        r->m_thread->wait();
        delete r;
    });
}

OnlineCheckRound::OnlineCheckRound(int periodMs)
    : m_periodMs(periodMs)
    , m_thread(std::make_unique<QThread>())
    , m_timer(new QTimer(this))
{
    m_clock.start();
    m_timer->setSingleShot(true);
    // Precise: a coarse one may fire before the beat, and wake the thread twice for it.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &OnlineCheckRound::ask);
}

OnlineCheckRound::~OnlineCheckRound() = default;

void OnlineCheckRound::join(PivotrixController* controller)
{
    {
        QMutexLocker locker(&m_lock);
        Member member;
        member.controller = controller;
        member.url = controller->deviceUrl(QStringLiteral("/api/v2/device/stream"));
        member.apiKey = controller->apiKey();
        member.joined = m_clock.elapsed();
        m_members.insert(++m_lastId, member);
    }
    QMetaObject::invokeMethod(this, &OnlineCheckRound::arm, Qt::QueuedConnection);
}

void OnlineCheckRound::leave(PivotrixController* controller)
{
    QMutexLocker locker(&m_lock);
    for (auto it = m_members.begin(); it != m_members.end();) {
        if (it->controller == controller)
            it = m_members.erase(it);
        else
            ++it;
    }
}

void OnlineCheckRound::ask()
{
    struct Question
    {
        quint64 id;
        QUrl url;
        QString apiKey;
        int timeoutMs;
        quint64 streamReplies;
    };
    QVector<Question> questions;
    const qint64 now = m_clock.elapsed();
    {
        QMutexLocker locker(&m_lock);
        for (auto it = m_members.begin(); it != m_members.end(); ++it) {
            // Just paired: its controller is still busy asking the panel who it is.
            if (it->asking || now - it->joined < m_periodMs / 2)
                continue;
            it->asking = true;
            questions.push_back({it.key(), it->url, it->apiKey, it->controller->requestTimeout(),
                                 it->controller->streamReplies()});
        }
    }
    if (!questions.isEmpty()) {
        qCDebug(lcPivotrix) << "check online" << questions.size() << "panels";
        if (!m_manager)
            m_manager = new QNetworkAccessManager(this);
    }
    // Closed with the answer: a connection kept for the next check a period later would only be closed by
    // the panel meanwhile, a wake-up of its own.
    for (const Question& question : qAsConst(questions)) {
        QNetworkReply* reply = PivotrixController::startRequest("GET", question.url, question.apiKey,
                                                                m_manager, {}, question.timeoutMs, false);
        const quint64 id = question.id;
        const quint64 streamReplies = question.streamReplies;
        connect(reply, &QNetworkReply::finished, this, [this, reply, id, streamReplies] {
            QByteArray body;
            QString error;
            const int status = PivotrixController::finishReply(reply, body, error);
            reply->deleteLater();
            const QVariantMap map = PanelReply::map(body);
            {
                QMutexLocker locker(&m_lock);
                const auto it = m_members.find(id);
                if (it == m_members.end())
                    return;
                it->asking = false;
                it->controller->offerCheckAnswer(map, status, error, streamReplies);
            }
        });
    }
    if (!questions.isEmpty())
        QMetaObject::invokeMethod(this, &OnlineCheckRound::gather, Qt::QueuedConnection);
    arm();
}

void OnlineCheckRound::gather()
{
    // Queued behind the requests' own start, so they are on their way; meanwhile the answers and the
    // manager's news about them pile up instead of waking this thread one by one.
    QThread::msleep(ulong(qMin(kGatherMs, m_periodMs / 20)));
}

void OnlineCheckRound::arm()
{
    bool anyone = false;
    {
        QMutexLocker locker(&m_lock);
        anyone = !m_members.isEmpty();
    }
    const qint64 now = m_clock.elapsed();
    if (!anyone) {
        m_nextBeat = -1;
        m_timer->stop();
        return;
    }
    if (m_nextBeat < 0)
        m_nextBeat = now + m_periodMs;
    // A beat missed (the machine slept) is not made up for.
    while (m_nextBeat <= now)
        m_nextBeat += m_periodMs;
    m_timer->start(int(m_nextBeat - now));
}

void OnlineCheckRound::stop()
{
    {
        QMutexLocker locker(&m_lock);
        m_members.clear();
    }
    m_timer->stop();
    delete m_manager;
    m_manager = nullptr;
}
