#include "ui/UpdateChecker.h"

#include "core/DiagnosticLog.h"
#include "device/SharedNetworkManager.h"
#include "ui/UpdateOsCode.h"

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
    , m_byPackageManager(PIVOTRIX_UPDATES_BY_PACKAGE_MANAGER)
{}

QUrl UpdateChecker::requestUrl() const
{
    QUrl url = m_serviceUrl;
    url.setPath(QStringLiteral("/api/razer/apps/latest"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("os_code"), updateOsCode());
    url.setQuery(query);
    return url;
}

void UpdateChecker::startCheck(bool manual)
{
    if (m_byPackageManager) {
        qCDebug(lcPivotrix) << "update check left to the package manager";
        return;
    }
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
        qCDebug(lcPivotrix) << "update answer too large, dropped";
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
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    qCDebug(lcPivotrix) << "check update finished" << error << status << reply->url();
    reply->deleteLater();
    m_reply = nullptr;

    // Only a well-formed record may say "latest"; anything else is reported as the failure it is.
    QString version = QStringLiteral("error");
    bool hasNewVersion = false;
    if (error == QNetworkReply::NoError && !m_overflow) {
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(m_buffer, &parseError);
        const QJsonValue offered = document.object().value(QStringLiteral("version"));
        if (status < 200 || status > 299)
            qCDebug(lcPivotrix) << "update answer has status" << status;
        else if (!document.isObject())
            qCDebug(lcPivotrix) << "update answer is not a JSON object" << parseError.errorString();
        else if (!offered.isString() || offered.toString().isEmpty())
            qCDebug(lcPivotrix) << "update answer has no version";
        else {
            version = offered.toString();
            hasNewVersion = isNewerVersion(currentVersion(), version);
            m_downloadUrl = document.object().value(QStringLiteral("download_url")).toString();
        }
    }
    m_buffer.clear();
    m_overflow = false;
    emit updateCheckFinished(m_manual, hasNewVersion, version);
}
