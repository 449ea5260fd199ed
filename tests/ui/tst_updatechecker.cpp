// The update check against a local HTTP server, and what the update and About dialogs show.
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

class TestUpdateChecker : public QObject
{
    Q_OBJECT
private:
    TestHttpServer* m_server = nullptr;
    UrlRecorder m_browser;

    static QByteArray jsonString(const QString& text)
    {
        const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        return array.mid(1, array.size() - 2);
    }

    void answer(const QByteArray& body, int status = 200)
    {
        m_server->body = body;
        m_server->status = status;
    }

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_browser, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("javascript"), &m_browser, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_browser, "open");
    }

    void cleanupTestCase()
    {
        for (const char* scheme : {"http", "https", "javascript", "file"})
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
        QTest::addColumn<QString>("candidate");
        QTest::addColumn<bool>("newer");
        const QList<QPair<const char*, bool>> rows = {
            {"1.0.2", true},
            {"1.1.0", true},
            {"2.0.0", true},
            {"1.0.10", true},
            {"1.0.1", false},
            {"1.0.0", false},
            {"0.9.9", false},
            {"1.1", false},
            {"1.0.2.3", false},
            {"v1.0.2", false},
            {"1.0.2-beta", false},
            {"1.0.2 ", false},
            {" 1.0.2", false},
            {"1.0.2\n", false},
            {"", false},
            {"error", false},
            {"1..2", false},
            {"01.0.2", true},
            {"1.0.01", false},
            {"1.0.99999999999999999999", true},
            {"0.0.99999999999999999999", false},
            {"1.-0.2", false},
            {"1.0.+2", false},
            {"1.0.\u0662", false},
        };
        for (const auto& row : rows)
            QTest::newRow(row.first) << QString::fromUtf8(row.first) << row.second;
    }

    void versionComparison()
    {
        QFETCH(QString, candidate);
        QFETCH(bool, newer);
        QCOMPARE(UpdateChecker::isNewerVersion(UpdateChecker::currentVersion(), candidate), newer);
    }

    void versionComparisonOfTheCurrentSide()
    {
        QVERIFY(!UpdateChecker::isNewerVersion(QStringLiteral("garbage"), QStringLiteral("9.9.9")));
        QVERIFY(!UpdateChecker::isNewerVersion(QStringLiteral("2.0.0"), QStringLiteral("1.9.9")));
        QVERIFY(UpdateChecker::isNewerVersion(QStringLiteral("1.9.9"), QStringLiteral("2.0.0")));
    }

    void requestGoesToTheFixedPath()
    {
        UpdateChecker checker;
        QCOMPARE(UpdateChecker::defaultServiceUrl().toString(),
                 QStringLiteral("https://") + QStringLiteral(PIVOTRIX_UPDATE_HOST));
        QCOMPARE(checker.requestUrl().toString(),
                 QStringLiteral("https://%1/api/razer/apps/latest?os_code=windows_x64")
                     .arg(QStringLiteral(PIVOTRIX_UPDATE_HOST)));
        checker.setServiceUrl(m_server->baseUrl());
        answer("{\"version\":\"1.0.1\"}");
        QSignalSpy spy(&checker, &UpdateChecker::updateCheckFinished);
        checker.startCheck(false);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(m_server->requestLines.value(0),
                 QByteArray("GET /api/razer/apps/latest?os_code=windows_x64 HTTP/1.1"));
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<bool>("hasNewVersion");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("downloadUrl");
        QTest::newRow("newer")
            << QByteArray("{\"version\":\"1.2.0\",\"download_url\":\"https://example.org/p.exe\"}") << 200
            << false << true << QStringLiteral("1.2.0") << QStringLiteral("https://example.org/p.exe");
        QTest::newRow("same") << QByteArray(
                                     "{\"version\":\"1.0.1\",\"download_url\":\"https://example.org/p.exe\"}")
                              << 200 << false << false << QStringLiteral("1.0.1")
                              << QStringLiteral("https://example.org/p.exe");
        QTest::newRow("not json") << QByteArray("<html>hello</html>") << 200 << false << false << QString()
                                  << QString();
        QTest::newRow("json array") << QByteArray("[\"1.2.0\"]") << 200 << false << false << QString()
                                    << QString();
        QTest::newRow("version not text")
            << QByteArray("{\"version\":2}") << 200 << false << false << QString() << QString();
        QTest::newRow("truncated json")
            << QByteArray("{\"version\":\"1.2.0\"") << 200 << false << false << QString() << QString();
        QTest::newRow("server error") << QByteArray("{\"version\":\"1.2.0\"}") << 500 << false << false
                                      << QStringLiteral("error") << QString();
        QTest::newRow("not found") << QByteArray() << 404 << false << false << QStringLiteral("error")
                                   << QString();
        QTest::newRow("connection dropped")
            << QByteArray() << 200 << true << false << QStringLiteral("error") << QString();
        QTest::newRow("oversized") << QByteArray("{\"version\":\"1.2.0\",\"pad\":\"") +
                                          QByteArray(UpdateChecker::kMaxResponseBytes, 'x') +
                                          QByteArray("\"}")
                                   << 200 << false << false << QStringLiteral("error") << QString();
    }

    void answers()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(bool, drop);
        QFETCH(bool, hasNewVersion);
        QFETCH(QString, version);
        QFETCH(QString, downloadUrl);
        UpdateChecker checker;
        checker.setServiceUrl(m_server->baseUrl());
        answer(body, status);
        m_server->dropConnection = drop;
        QSignalSpy spy(&checker, &UpdateChecker::updateCheckFinished);
        checker.startCheck(true);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
        QCOMPARE(spy.first().at(0).toBool(), true);
        QCOMPARE(spy.first().at(1).toBool(), hasNewVersion);
        QCOMPARE(spy.first().at(2).toString(), version);
        QCOMPARE(checker.downloadUrl(), downloadUrl);
        QVERIFY(!checker.isChecking());
    }

    void nothingListeningIsAnError()
    {
        UpdateChecker checker;
        QUrl closed = m_server->baseUrl();
        delete m_server;
        m_server = new TestHttpServer(this);
        closed.setPort(1); // nothing listens on a privileged port here
        checker.setServiceUrl(closed);
        QSignalSpy spy(&checker, &UpdateChecker::updateCheckFinished);
        checker.startCheck(false);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
        QCOMPARE(spy.first().at(2).toString(), QStringLiteral("error"));
    }

    void manualCheckWhileAutomaticWaitsSendsOneRequest()
    {
        UpdateChecker checker;
        checker.setServiceUrl(m_server->baseUrl());
        answer("{\"version\":\"1.3.0\",\"download_url\":\"https://example.org/x\"}");
        m_server->delayMs = 300;
        QSignalSpy spy(&checker, &UpdateChecker::updateCheckFinished);
        checker.startCheck(false);
        QTRY_COMPARE(m_server->requests, 1);
        checker.startCheck(true);
        QTRY_COMPARE(spy.count(), 1);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_server->requests, 1);
        QCOMPARE(spy.first().at(0).toBool(), true);
        QCOMPARE(spy.first().at(1).toBool(), true);

        // Idle again: the next call asks anew.
        checker.startCheck(false);
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(m_server->requests, 2);
        QCOMPARE(spy.last().at(0).toBool(), false);
    }

    void dialogTexts_data()
    {
        QTest::addColumn<bool>("hasNewVersion");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("text");
        QTest::newRow("error") << false << QStringLiteral("error")
                               << QStringLiteral(
                                      "An error occurred when trying to retrieve update information, "
                                      "please try again later.");
        QTest::newRow("latest") << false << QStringLiteral("1.0.1")
                                << QStringLiteral("You have the latest version of Pivotrix Entertainment");
        QTest::newRow("empty") << false << QString()
                               << QStringLiteral("You have the latest version of Pivotrix Entertainment");
    }

    void dialogTexts()
    {
        QFETCH(bool, hasNewVersion);
        QFETCH(QString, version);
        QFETCH(QString, text);
        UpdateDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Software Update"));
        QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Checking..."));
        dialog.updateFinished(false, hasNewVersion, version);
        QCOMPARE(dialog.statusLabel()->text(), text);
    }

    void dialogFollowsTheChecker()
    {
        answer("{\"version\":\"1.4.0\",\"download_url\":\"https://example.org/get?a=1&b=2\"}");
        UpdateDialog dialog;
        dialog.startManualCheck();
        QTRY_VERIFY(dialog.statusLabel()->text() != QStringLiteral("Checking..."));
        QCOMPARE(dialog.statusLabel()->text(),
                 QStringLiteral(
                     "<strong>A new version is available.</strong><br/>Pivotrix Entertainment 1.4.0 can be "
                     "<a href=\"https://example.org/get?a=1&amp;b=2\">downloaded here</a>."));
        QCOMPARE(m_server->requests, 1);
    }

    void untrustedAnswersStayText_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("linked");
        QTest::newRow("javascript url")
            << QStringLiteral("1.2.0") << QStringLiteral("javascript:alert(1)") << false;
        QTest::newRow("file url") << QStringLiteral("1.2.0") << QStringLiteral("file:///etc/passwd") << false;
        QTest::newRow("data url") << QStringLiteral("1.2.0") << QStringLiteral("data:text/html,<b>x</b>")
                                  << false;
        QTest::newRow("no host") << QStringLiteral("1.2.0") << QStringLiteral("https:///path") << false;
        QTest::newRow("relative") << QStringLiteral("1.2.0") << QStringLiteral("/download") << false;
        QTest::newRow("empty") << QStringLiteral("1.2.0") << QString() << false;
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
        answer(QByteArray("{\"version\":\"1.2.0\",\"download_url\":") + jsonString(url) + "}");
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

        // Whatever the label offers, only web links reach the browser.
        emit dialog.statusLabel()->linkActivated(url);
        QCOMPARE(m_browser.opened.size(), linked ? 1 : 0);
    }

    void linksOpenThroughTheCheck()
    {
        UpdateDialog dialog;
        emit dialog.statusLabel()->linkActivated(QStringLiteral("https://example.org/p.exe"));
        emit dialog.statusLabel()->linkActivated(QStringLiteral("javascript:alert(1)"));
        emit dialog.statusLabel()->linkActivated(QStringLiteral("file:///etc/passwd"));
        QCOMPARE(m_browser.opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/p.exe"))});
        QVERIFY(!dialog.statusLabel()->openExternalLinks());
    }

    void dialogButtonsAccept()
    {
        UpdateDialog update;
        update.show();
        QSignalSpy updateAccepted(&update, &QDialog::accepted);
        update.buttonBox()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(updateAccepted.count(), 1);

        UpdateDialog released;
        released.show();
        QSignalSpy releasedAccepted(&released, &QDialog::accepted);
        const QRect box = released.buttonBox()->geometry();
        QTest::mouseRelease(&released, Qt::LeftButton, Qt::NoModifier, QPoint(box.left() + 1, box.top() + 1));
        QCOMPARE(releasedAccepted.count(), 1);

        AboutDialog about;
        about.show();
        QSignalSpy aboutAccepted(&about, &QDialog::accepted);
        QTest::mouseRelease(&about, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        QCOMPARE(aboutAccepted.count(), 0);
        QTest::mouseRelease(&about, Qt::LeftButton, Qt::NoModifier, about.okButton()->geometry().center());
        QCOMPARE(aboutAccepted.count(), 1);
    }

    void aboutDialogForm()
    {
        AboutDialog about;
        QCOMPARE(about.objectName(), QStringLiteral("AboutDialog"));
        QCOMPARE(about.windowTitle(), QStringLiteral("About"));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("titleLabel"))->text(),
                 QStringLiteral("Pivotrix Entertainment"));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("versionLabel"))->text(),
                 QStringLiteral("Version: 1.0.1"));
        QVERIFY(about.findChild<QLabel*>(QStringLiteral("copyrightLabel"))
                    ->text()
                    .contains(QStringLiteral("Pivotrix")));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("label_4"))->size(), QSize(54, 54));
        QVERIFY(!about.findChild<QLabel*>(QStringLiteral("label_4"))->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(about.testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(!about.testAttribute(Qt::WA_QuitOnClose));
    }
};

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
