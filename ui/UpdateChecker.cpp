#include "ui/UpdateChecker.h"

#include "core/DiagnosticLog.h"
#include "device/SharedNetworkManager.h"
#include "ui/UpdateOsCode.h"
#include "ui/UpdateReply.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

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
        const UpdateReply answer = UpdateReply::read(m_buffer);
        if (status < 200 || status > 299)
            qCDebug(lcPivotrix) << "update answer has status" << status;
        else if (!answer.problem.isEmpty())
            qCDebug(lcPivotrix).noquote() << answer.problem;
        else {
            version = answer.version;
            hasNewVersion = UpdateReply::isNewerVersion(currentVersion(), version);
            m_downloadUrl = answer.downloadUrl;
        }
    }
    m_buffer.clear();
    m_overflow = false;
    emit updateCheckFinished(m_manual, hasNewVersion, version);
}
