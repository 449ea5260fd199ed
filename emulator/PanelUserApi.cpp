#include "emulator/PanelUserApi.h"

#include "emulator/EmulatedPanel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUuid>

#include <httplib.h>

namespace {
const QString kInProgress = QStringLiteral("in-progress");

QJsonObject error(const QString& text)
{
    return QJsonObject{{QStringLiteral("error"), text}};
}

QString bodyText(const QByteArray& body, const QString& key)
{
    return QJsonDocument::fromJson(body).object().value(key).toString();
}
} // namespace

const QStringList& PanelUserApi::colorOptions()
{
    // Without "#", as some firmware sends them.
    static const QStringList options{QStringLiteral("ff0000"), QStringLiteral("00ff00"),
                                     QStringLiteral("0000ff"), QStringLiteral("ffff00"),
                                     QStringLiteral("00d1ff"), QStringLiteral("ff00e2")};
    return options;
}

PanelUserApi::PanelUserApi(EmulatedPanel* panel, bool supported, int durationS, int colorIndex)
    : m_panel(panel)
    , m_supported(supported)
    , m_durationS(durationS)
    , m_colorIndex(colorIndex)
{}

void PanelUserApi::registerRoutes(httplib::Server& server)
{
    auto reply = [](httplib::Response& response, int status, const QJsonObject& body) {
        EmulatedPanel::replyJson(response, status, body);
    };
    server.Post("/api/v2/user/", [this, reply](const httplib::Request& request, httplib::Response& response) {
        if (!m_panel->admit(request, response, QStringLiteral("pair_start"), false))
            return;
        int status = 200;
        if (request.get_param_value("type") != "pick_color") {
            reply(response, 400, error(QStringLiteral("unknown challenge type")));
            return;
        }
        const QJsonObject body = start(&status);
        reply(response, status, body);
    });
    server.Put(R"(/api/v2/user/challenge/(.+))",
               [this, reply](const httplib::Request& request, httplib::Response& response) {
                   if (!m_panel->admit(request, response, QStringLiteral("pair_resolve"), false))
                       return;
                   int status = 200;
                   const QJsonObject body = resolve(QString::fromStdString(request.matches[1]),
                                                    QByteArray::fromStdString(request.body), &status);
                   reply(response, status, body);
               });
    server.Delete(R"(/api/v2/user/challenge/(.+))",
                  [this, reply](const httplib::Request& request, httplib::Response& response) {
                      if (!m_panel->admit(request, response, QStringLiteral("pair_cancel"), false))
                          return;
                      int status = 200;
                      const QJsonObject body = cancel(QString::fromStdString(request.matches[1]), &status);
                      reply(response, status, body);
                  });
    server.Post("/api/v2/user/exchange",
                [this, reply](const httplib::Request& request, httplib::Response& response) {
                    if (!m_panel->admit(request, response, QStringLiteral("pair_exchange"), false))
                        return;
                    int status = 200;
                    const QJsonObject body = exchange(QByteArray::fromStdString(request.body), &status);
                    reply(response, status, body);
                });
}

void PanelUserApi::expireLocked() const
{
    if (m_state == kInProgress && QDateTime::currentDateTimeUtc() >= m_expiresAt)
        m_state = QStringLiteral("expired");
}

QJsonObject PanelUserApi::challengeLocked() const
{
    QJsonArray colors;
    for (const QString& color : colorOptions())
        colors.append(color);
    return QJsonObject{{QStringLiteral("uuid"), m_uuid},
                       {QStringLiteral("date"), m_date.toString(Qt::TextDate)},
                       {QStringLiteral("duration"), m_durationS},
                       {QStringLiteral("options"), QJsonObject{{QStringLiteral("colors"), colors}}},
                       {QStringLiteral("state"), m_state}};
}

QJsonObject PanelUserApi::start(int* status)
{
    if (!m_supported) {
        *status = 401;
        return error(QStringLiteral("pairing is not available on this panel"));
    }
    std::lock_guard<std::mutex> locker(m_lock);
    m_uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_date = QDateTime::currentDateTime();
    m_expiresAt = QDateTime::currentDateTimeUtc().addSecs(m_durationS);
    m_state = kInProgress;
    m_litIndex = m_colorIndex >= 0 ? m_colorIndex % colorOptions().size()
                                   : int(QRandomGenerator::global()->bounded(colorOptions().size()));
    expireLocked();
    return QJsonObject{{QStringLiteral("challenge"), challengeLocked()}};
}

QJsonObject PanelUserApi::resolve(const QString& uuid, const QByteArray& body, int* status)
{
    std::lock_guard<std::mutex> locker(m_lock);
    expireLocked();
    if (m_uuid.isEmpty() || uuid != m_uuid) {
        *status = 404;
        return error(QStringLiteral("no such challenge"));
    }
    if (m_state != kInProgress) {
        *status = m_state == QLatin1String("expired") ? 410 : 409;
        return error(QStringLiteral("challenge is ") + m_state);
    }
    QString color = bodyText(body, QStringLiteral("color")).toLower();
    if (color.startsWith(QLatin1Char('#')))
        color.remove(0, 1);
    if (color != colorOptions().at(m_litIndex)) {
        m_state = QStringLiteral("canceled");
        *status = 403;
        return error(QStringLiteral("wrong color"));
    }
    m_state = QStringLiteral("resolved");
    return QJsonObject{{QStringLiteral("challenge"), challengeLocked()}};
}

QJsonObject PanelUserApi::exchange(const QByteArray& body, int* status)
{
    QString key;
    {
        std::lock_guard<std::mutex> locker(m_lock);
        if (m_uuid.isEmpty() || bodyText(body, QStringLiteral("challenge_id")) != m_uuid ||
            m_state != QLatin1String("resolved")) {
            *status = 403;
            return error(QStringLiteral("challenge not resolved"));
        }
        // One key per solved challenge.
        m_state = QStringLiteral("exchanged");
        key = QUuid::createUuid().toString(QUuid::Id128);
    }
    m_panel->setApiKey(key);
    return QJsonObject{{QStringLiteral("user"), QJsonObject{{QStringLiteral("key"), key}}}};
}

QJsonObject PanelUserApi::cancel(const QString& uuid, int* status)
{
    std::lock_guard<std::mutex> locker(m_lock);
    expireLocked();
    if (m_uuid.isEmpty() || uuid != m_uuid || m_state != kInProgress) {
        *status = 404;
        return error(QStringLiteral("no challenge in progress"));
    }
    m_state = QStringLiteral("canceled");
    return QJsonObject{{QStringLiteral("challenge"), challengeLocked()}};
}

QColor PanelUserApi::shownColor() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    expireLocked();
    if (m_state != kInProgress || m_litIndex < 0)
        return QColor();
    return QColor(QLatin1Char('#') + colorOptions().at(m_litIndex));
}

void PanelUserApi::addStatus(QJsonObject& status) const
{
    const QColor lit = shownColor();
    std::lock_guard<std::mutex> locker(m_lock);
    status.insert(QStringLiteral("pairing"),
                  QJsonObject{{QStringLiteral("supported"), m_supported},
                              {QStringLiteral("duration"), m_durationS},
                              {QStringLiteral("uuid"), m_uuid},
                              {QStringLiteral("state"), m_state},
                              {QStringLiteral("lit_color"), lit.isValid() ? lit.name() : QString()}});
}
