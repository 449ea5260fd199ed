#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QNetworkReply>

// Asks the update service for the newest published version. One request at a time; its answer
// carries the manual flag of the latest startCheck().
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    // Larger answers are not an update record; reading stops there.
    static constexpr int kMaxResponseBytes = 64 * 1024;

    static UpdateChecker* instance();
    static QString currentVersion();
    // Only http(s) URLs with a host may become a link.
    static bool isSafeDownloadUrl(const QUrl& url);
    static QUrl defaultServiceUrl();

    explicit UpdateChecker(QObject* parent = nullptr);

    void startCheck(bool manual);
    QString downloadUrl() const { return m_downloadUrl; }
    bool isChecking() const { return m_reply != nullptr; }

    // Installed from a distribution package, whose package manager brings the updates: no request is
    // ever sent. Fixed by the build; tests change it.
    bool updatesByPackageManager() const { return m_byPackageManager; }
    void setUpdatesByPackageManager(bool byPackageManager) { m_byPackageManager = byPackageManager; }

    // Scheme, host and port of the service; the path and query are fixed.
    void setServiceUrl(const QUrl& base) { m_serviceUrl = base; }
    QUrl requestUrl() const;

signals:
    void updateCheckFinished(bool manual, bool hasNewVersion, const QString& version);

public slots:
    void readyRead();
    void updateFinished();

private:
    QPointer<QNetworkReply> m_reply;
    QByteArray m_buffer;
    bool m_manual = false;
    bool m_overflow = false;
    QString m_downloadUrl;
    QUrl m_serviceUrl;
    bool m_byPackageManager = false;
};
