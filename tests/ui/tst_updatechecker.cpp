// The update check against a local HTTP server, and what the update dialog shows.
#include "support/TestHttpServer.h"
#include "ui/AboutDialog.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// Stands in for the browser: records what would have been opened.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

namespace {
const char* const kSchemes[] = {"http", "https", "javascript", "file"};
}

class TestUpdateChecker : public QObject
{
    Q_OBJECT
private:
    TestHttpServer* m_server = nullptr;
    UrlRecorder m_browser;
    const QStringList m_schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                   QStringLiteral("javascript"), QStringLiteral("file")};

    static QByteArray jsonString(const QString& text)
    {
        const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        return array.mid(1, array.size() - 2);
    }

private slots:
    void initTestCase()
    {
        for (const char* scheme : kSchemes)
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &m_browser, "open");
    }

    void cleanupTestCase()
    {
        for (const char* scheme : kSchemes)
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    void init()
    {
        m_server = new TestHttpServer(this);
        UpdateChecker::instance()->setServiceUrl(m_server->baseUrl());
        m_browser.opened.clear();
    }

    void cleanup()
    {
        QTRY_VERIFY(!UpdateChecker::instance()->isChecking());
        delete m_server;
    }

    void versionComparison_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("candidate");
        QTest::addColumn<bool>("newer");
        const QString v = UpdateChecker::currentVersion();
        const QList<std::tuple<QString, const char*, bool>> rows = {
            {v, "1.0.2", true},
            {v, "1.0.10", true}, // parts compare as numbers
            {v, "01.0.2", true},
            {v, "1.0.99999999999999999999", true},
            {v, "1.0.1", false},
            {v, "1.1", false},
            {v, "1.0.2.3", false},
            {v, "v1.0.2", false},
            {v, "1.0.2\n", false},
            {v, "1.0.\u0662", false},
            {QStringLiteral("garbage"), "9.9.9", false},
            {QStringLiteral("2.0.0"), "1.9.9", false},
        };
        for (const auto& row : rows)
            QTest::addRow("%s < %s", qPrintable(std::get<0>(row)), std::get<1>(row))
                << std::get<0>(row) << QString::fromUtf8(std::get<1>(row)) << std::get<2>(row);
    }

    void versionComparison()
    {
        QFETCH(QString, current);
        QFETCH(QString, candidate);
        QFETCH(bool, newer);
        QCOMPARE(UpdateChecker::isNewerVersion(current, candidate), newer);
    }

    // A Linux user must never be offered a Windows download.
    void requestNamesThisPlatform()
    {
        m_server->body = "{\"version\":\"1.0.1\"}";
        QSignalSpy spy(UpdateChecker::instance(), &UpdateChecker::updateCheckFinished);
        UpdateChecker::instance()->startCheck(false);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(m_server->requestLines.value(0),
                 QByteArray("GET /api/razer/apps/latest?os_code=linux_x64 HTTP/1.1"));
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("hasNewVersion");
        const QString error = QStringLiteral("error");
        QTest::newRow("newer") << QByteArray(
                                      "{\"version\":\"1.2.0\",\"download_url\":\"https://example.org/p\"}")
                               << 200 << false << QStringLiteral("1.2.0") << true;
        QTest::newRow("same") << QByteArray("{\"version\":\"1.0.1\"}") << 200 << false
                              << QStringLiteral("1.0.1") << false;
        // None of these is a version record: "latest" would be a failure reported as success.
        QTest::newRow("html page") << QByteArray("<html>hello</html>") << 200 << false << error << false;
        QTest::newRow("no version") << QByteArray("{\"download_url\":\"https://example.org/p\"}") << 200
                                    << false << error << false;
        QTest::newRow("version a number")
            << QByteArray("{\"version\":102}") << 200 << false << error << false;
        QTest::newRow("empty body") << QByteArray() << 200 << false << error << false;
        QTest::newRow("redirect") << QByteArray("{\"version\":\"1.2.0\"}") << 302 << false << error << false;
        QTest::newRow("server error")
            << QByteArray("{\"version\":\"1.2.0\"}") << 500 << false << error << false;
        QTest::newRow("connection dropped") << QByteArray() << 200 << true << error << false;
        QTest::newRow("oversized") << QByteArray("{\"version\":\"1.2.0\",\"pad\":\"") +
                                          QByteArray(UpdateChecker::kMaxResponseBytes, 'x') +
                                          QByteArray("\"}")
                                   << 200 << false << error << false;
    }

    void answers()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(bool, drop);
        QFETCH(QString, version);
        QFETCH(bool, hasNewVersion);
        m_server->body = body;
        m_server->status = status;
        m_server->dropConnection = drop;
        UpdateDialog dialog;
        QSignalSpy spy(UpdateChecker::instance(), &UpdateChecker::updateCheckFinished);
        dialog.startManualCheck();
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
        QCOMPARE(spy.first().at(2).toString(), version);
        QCOMPARE(spy.first().at(1).toBool(), hasNewVersion);
        const QString shown = dialog.statusLabel()->text();
        if (version == QLatin1String("error"))
            QVERIFY2(shown.startsWith(QStringLiteral("An error occurred")), qPrintable(shown));
        else
            QCOMPARE(shown.contains(QStringLiteral("latest version")), !hasNewVersion);
    }

    // Spec'd: "Check For Update" while the automatic check waits sends no second request, and the one
    // answer is delivered as manual.
    void manualCheckWhileAutomaticWaitsSendsOneRequest()
    {
        UpdateChecker checker;
        checker.setServiceUrl(m_server->baseUrl());
        m_server->body = "{\"version\":\"1.3.0\"}";
        m_server->delayMs = 300;
        QSignalSpy spy(&checker, &UpdateChecker::updateCheckFinished);
        checker.startCheck(false);
        QTRY_COMPARE(m_server->requests, 1);
        checker.startCheck(true);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(m_server->requests, 1);
        QCOMPARE(spy.first().at(0).toBool(), true);

        // Idle again: the next call asks anew.
        checker.startCheck(false);
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(m_server->requests, 2);
        QCOMPARE(spy.last().at(0).toBool(), false);
    }

    void untrustedAnswersStayText_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("linked");
        QTest::newRow("web link") << QStringLiteral("1.4.0")
                                  << QStringLiteral("https://example.org/get?a=1&b=2") << true;
        QTest::newRow("javascript url")
            << QStringLiteral("1.2.0") << QStringLiteral("javascript:alert(1)") << false;
        QTest::newRow("file url") << QStringLiteral("1.2.0") << QStringLiteral("file:///etc/passwd") << false;
        QTest::newRow("quote breaks out")
            << QStringLiteral("1.2.0") << QStringLiteral("https://example.org/\" onclick=\"x") << false;
        QTest::newRow("markup in version") << QStringLiteral("<a href=\"javascript:x\">1.2.0</a>")
                                           << QStringLiteral("https://example.org/") << true;
    }

    void untrustedAnswersStayText()
    {
        QFETCH(QString, version);
        QFETCH(QString, url);
        QFETCH(bool, linked);
        m_server->body = QByteArray("{\"version\":\"1.2.0\",\"download_url\":") + jsonString(url) + "}";
        UpdateDialog dialog;
        dialog.startManualCheck();
        QTRY_VERIFY(dialog.statusLabel()->text() != QStringLiteral("Checking..."));
        // The main window hands results over directly; a hostile version must still show as text.
        dialog.updateFinished(false, true, version);
        const QString shown = dialog.statusLabel()->text();
        QCOMPARE(shown.count(QStringLiteral("<a ")), linked ? 1 : 0);
        QVERIFY(!shown.contains(QStringLiteral("javascript:x\">")));
        QVERIFY(!shown.contains(QStringLiteral("\" onclick")));
        QVERIFY(shown.contains(version.toHtmlEscaped()));
        if (linked)
            QVERIFY(shown.contains(url.toHtmlEscaped()));

        // Whatever the label offers, only web links reach the browser.
        emit dialog.statusLabel()->linkActivated(url);
        QCOMPARE(m_browser.opened.size(), linked ? 1 : 0);
    }

    // Both dialogs accept a button release on their own surface inside the button, and only there.
    void releaseOverTheButtonAccepts()
    {
        UpdateDialog update;
        AboutDialog about;
        const QList<QPair<QDialog*, QWidget*>> dialogs = {{&update, update.buttonBox()},
                                                          {&about, about.okButton()}};
        for (const auto& entry : dialogs) {
            QDialog* dialog = entry.first;
            dialog->show();
            QSignalSpy accepted(dialog, &QDialog::accepted);
            QTest::mouseRelease(dialog, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
            QCOMPARE(accepted.count(), 0);
            QTest::mouseRelease(dialog, Qt::LeftButton, Qt::NoModifier, entry.second->geometry().center());
            QCOMPARE(accepted.count(), 1);
        }
    }
};

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
