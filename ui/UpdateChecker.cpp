#include "ui/UpdateChecker.h"

#include "device/SharedNetworkManager.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QUrlQuery>

namespace {
// Parts compare as numbers of any length: longer (after leading zeros) is larger, else text order.
int compareNumbers(QString a, QString b)
{
    while (a.size() > 1 && a.startsWith(QLatin1Char('0')))
        a.remove(0, 1);
    while (b.size() > 1 && b.startsWith(QLatin1Char('0')))
        b.remove(0, 1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

QStringList versionParts(const QString& text)
{
    // ASCII digits only, and nothing after the last one (not even a newline).
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("((?:[0-9]+\\.){2}[0-9]+)")));
    const QString captured = pattern.match(text).captured(1);
    return captured.split(QLatin1Char('.'), Qt::SkipEmptyParts);
}
} // namespace

UpdateChecker* UpdateChecker::instance()
{
    static UpdateChecker* checker = new UpdateChecker();
    return checker;
}

QString UpdateChecker::currentVersion()
{
    return QStringLiteral("1.0.1");
}

QUrl UpdateChecker::defaultServiceUrl()
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral(PIVOTRIX_UPDATE_HOST));
    return url;
}

bool UpdateChecker::isNewerVersion(const QString& current, const QString& candidate)
{
    if (current == candidate)
        return false;
    const QStringList have = versionParts(current);
    const QStringList offered = versionParts(candidate);
    if (have.isEmpty() || offered.isEmpty())
        return false;
    for (int i = 0; i < 3; ++i) {
        const int order = compareNumbers(have.at(i), offered.at(i));
        if (order != 0)
            return order < 0;
    }
    return false;
}

bool UpdateChecker::isSafeDownloadUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http")) &&
           !url.host().isEmpty();
}

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent)
    , m_serviceUrl(defaultServiceUrl())
{}

QUrl UpdateChecker::requestUrl() const
{
    QUrl url = m_serviceUrl;
    url.setPath(QStringLiteral("/api/razer/apps/latest"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("os_code"), QStringLiteral("windows_x64"));
    url.setQuery(query);
    return url;
}

void UpdateChecker::startCheck(bool manual)
{
    m_manual = manual;
    if (m_reply)
        return;
    m_buffer.clear();
    m_overflow = false;
    m_reply = sharedNetworkManager()->get(QNetworkRequest(requestUrl()));
    connect(m_reply, &QNetworkReply::readyRead, this, &UpdateChecker::readyRead);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::updateFinished);
}

void UpdateChecker::readyRead()
{
    if (!m_reply || !m_reply->isReadable())
        return;
    const QByteArray chunk = m_reply->readAll();
    if (m_overflow)
        return;
    if (m_buffer.size() + chunk.size() > kMaxResponseBytes) {
        qDebug() << "update answer too large, dropped";
        m_overflow = true;
        m_buffer.clear();
        m_reply->abort();
        return;
    }
    m_buffer += chunk;
}

void UpdateChecker::updateFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    readyRead();
    const QNetworkReply::NetworkError error = reply->error();
    qDebug() << "check update finished" << error
             << reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() << reply->url();
    reply->deleteLater();
    m_reply = nullptr;

    QString version = QStringLiteral("error");
    bool hasNewVersion = false;
    if (error == QNetworkReply::NoError && !m_overflow) {
        QJsonParseError parseError{};
        const QJsonObject answer = QJsonDocument::fromJson(m_buffer, &parseError).object();
        if (parseError.error != QJsonParseError::NoError)
            qDebug() << "update answer is not JSON" << parseError.errorString();
        version = answer.value(QStringLiteral("version")).toString();
        hasNewVersion = isNewerVersion(currentVersion(), version);
        m_downloadUrl = answer.value(QStringLiteral("download_url")).toString();
    }
    m_buffer.clear();
    m_overflow = false;
    emit updateCheckFinished(m_manual, hasNewVersion, version);
}
