#include "discovery/ColorChallengeDialog.h"
#include "emulator/EmulatorWindow.h"
#include "support/PanelFixture.h"
#include "support/TestHttpServer.h"
#include "ui/Resources.h"
#include "ui/RoundRectWidget.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(PairingStage)

namespace {
QString baseUrl(const QString& address)
{
    return QStringLiteral("http://%1:8080").arg(address);
}

QString litColor(const EmulatedPanel& panel)
{
    return panel.statusJson()
        .value(QStringLiteral("pairing"))
        .toObject()
        .value(QStringLiteral("lit_color"))
        .toString();
}

int calls(const EmulatedPanel& panel, const char* kind)
{
    return int(panel.requestCounts().value(QLatin1String(kind)));
}

// The swatch showing the panel's colour, or (match false) one that does not.
RoundRectWidget* swatchFor(const ColorChallengeDialog& dialog, const QString& color, bool match)
{
    const QList<QColor> colors = dialog.challenge().colors;
    for (int i = 0; i < colors.size(); ++i) {
        if ((colors.at(i).name() == color) == match)
            return dialog.swatches().at(i);
    }
    return nullptr;
}

QString labelText(const QDialog& dialog, const char* name)
{
    return dialog.findChild<QLabel*>(QLatin1String(name))->text();
}

QByteArray reply(int status, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

QByteArray challengeJson(const QString& uuid, const QJsonArray& colors)
{
    const QJsonObject challenge{{QStringLiteral("uuid"), uuid},
                                {QStringLiteral("duration"), 30},
                                {QStringLiteral("options"), QJsonObject{{QStringLiteral("colors"), colors}}},
                                {QStringLiteral("state"), QStringLiteral("in-progress")}};
    return QJsonDocument(QJsonObject{{QStringLiteral("challenge"), challenge}})
        .toJson(QJsonDocument::Compact);
}
} // namespace

class TestColorChallenge : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { ensureResourcesLoaded(); }
    void outcome_data();
    void outcome();
    void closingCancelsOnlyInProgress_data();
    void closingCancelsOnlyInProgress();
    void otherButtonsSendNothing();
    void hiddenRetryIgnoresClicks();
    void closingWithRequestOutstanding_data();
    void closingWithRequestOutstanding();
    void hostileStart_data();
    void hostileStart();
    void untrustedTextsInRequests_data();
    void untrustedTextsInRequests();

private:
    // A dialog that has had the panel's answer (callers check the stage).
    std::unique_ptr<ColorChallengeDialog> choosing(const EmulatedPanel& panel);

    PanelFixture m_panels{60};
    int m_hostile = 200;
};

std::unique_ptr<ColorChallengeDialog> TestColorChallenge::choosing(const EmulatedPanel& panel)
{
    auto dialog = std::make_unique<ColorChallengeDialog>();
    dialog->setBaseUrl(baseUrl(panel.address()));
    dialog->show();
    (void)QTest::qWaitFor([&] { return dialog->stage() != PairingStage::Requesting; }, 10000);
    return dialog;
}

void TestColorChallenge::outcome_data()
{
    QTest::addColumn<bool>("supported");
    QTest::addColumn<int>("duration");
    QTest::addColumn<int>("click"); // 0 none, 1 the lit colour, 2 another
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("retryText");
    QTest::addColumn<QString>("button");
    QTest::newRow("right colour") << true << 30 << 1 << QString() << QString() << QString();
    QTest::newRow("wrong colour") << true << 30 << 2 << "Failed"
                                  << "Please, try again"
                                  << "Retry";
    QTest::newRow("duration 0") << true << 0 << 0 << "Timeout"
                                << "Please, try again"
                                << "Retry";
    QTest::newRow("401") << false << 30 << 0 << "Not Supported"
                         << "Streaming feature unavailable on this device"
                         << "OK";
}

void TestColorChallenge::outcome()
{
    QFETCH(bool, supported);
    QFETCH(int, duration);
    QFETCH(int, click);
    QFETCH(QString, title);
    QFETCH(QString, retryText);
    QFETCH(QString, button);
    PanelConfig config;
    config.pairingSupported = supported;
    config.pairingDurationS = duration;
    auto panel = m_panels.start(config);
    QVERIFY(panel);
    auto dialog = choosing(*panel);
    QSignalSpy keys(dialog.get(), &ColorChallengeDialog::keyAvailable);
    if (click) {
        QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);
        QCOMPARE(dialog->swatches().size(), 6);
        QTest::mouseClick(swatchFor(*dialog, litColor(*panel), click == 1), Qt::LeftButton);
    }
    if (title.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(keys.count(), 1, 10000);
        QCOMPARE(keys.at(0).at(0).toString(), panel->apiKey());
        QVERIFY(panel->apiKey() != PanelConfig().apiKey);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(!dialog->isVisible());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(labelText(*dialog, "titleLabel"), title, 10000);
    QCOMPARE(labelText(*dialog, "retryLabel"), retryText);
    auto* retry = dialog->findChild<QPushButton*>(QStringLiteral("retryButton"));
    QVERIFY(retry->isVisible());
    QCOMPARE(retry->text(), button);
    QCOMPARE(keys.count(), 0);
    QCOMPARE(panel->apiKey(), PanelConfig().apiKey);
}

void TestColorChallenge::closingCancelsOnlyInProgress_data()
{
    QTest::addColumn<bool>("failFirst");
    QTest::addColumn<int>("cancels");
    QTest::newRow("in progress") << false << 1;
    QTest::newRow("after Failed") << true << 0;
}

void TestColorChallenge::closingCancelsOnlyInProgress()
{
    QFETCH(bool, failFirst);
    QFETCH(int, cancels);
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto dialog = choosing(*panel);
    QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);
    EmulatorWindow window(panel.get());
    QTRY_COMPARE(window.shownColor(), QColor(litColor(*panel)));
    if (failFirst) {
        QTest::mouseClick(swatchFor(*dialog, litColor(*panel), false), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::Failed, 10000);
    }
    dialog->close();
    // Gone at once, as after finished(): the cancel must still reach the panel.
    dialog.reset();
    if (cancels) {
        QTRY_COMPARE_WITH_TIMEOUT(calls(*panel, "pair_cancel"), cancels, 10000);
        QTRY_COMPARE(window.shownColor(), QColor());
    } else {
        QTest::qWait(300);
        QCOMPARE(calls(*panel, "pair_cancel"), 0);
    }
}

void TestColorChallenge::otherButtonsSendNothing()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto dialog = choosing(*panel);
    QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);
    RoundRectWidget* lit = swatchFor(*dialog, litColor(*panel), true);
    QTest::mouseClick(lit, Qt::RightButton);
    QTest::mouseClick(lit, Qt::MiddleButton);
    QTest::qWait(300);
    QCOMPARE(calls(*panel, "pair_resolve"), 0);
    QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);
    QSignalSpy keys(dialog.get(), &ColorChallengeDialog::keyAvailable);
    QTest::mouseClick(lit, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(keys.count(), 1, 10000);
    QCOMPARE(calls(*panel, "pair_resolve"), 1);
}

void TestColorChallenge::hiddenRetryIgnoresClicks()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto dialog = choosing(*panel);
    QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);
    auto* retry = dialog->findChild<QPushButton*>(QStringLiteral("retryButton"));
    const QPoint onRetry = retry->geometry().center();
    QVERIFY(retry->isHidden());
    QTest::mouseClick(dialog.get(), Qt::LeftButton, {}, onRetry);
    QTest::qWait(300);
    QCOMPARE(calls(*panel, "pair_start"), 1);
    QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);

    QTest::mouseClick(swatchFor(*dialog, litColor(*panel), false), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::Failed, 10000);
    QTest::mouseClick(dialog.get(), Qt::LeftButton, {}, retry->geometry().center());
    QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::ChoosingColor, 10000);
    QCOMPARE(calls(*panel, "pair_start"), 2);
}

void TestColorChallenge::closingWithRequestOutstanding_data()
{
    QTest::addColumn<bool>("duringResolve");
    QTest::newRow("start outstanding") << false;
    QTest::newRow("resolve outstanding") << true;
}

void TestColorChallenge::closingWithRequestOutstanding()
{
    QFETCH(bool, duringResolve);
    auto panel = m_panels.start();
    QVERIFY(panel);
    const int delayMs = 800;
    QPointer<ColorChallengeDialog> dialog;
    if (duringResolve) {
        dialog = choosing(*panel).release();
        QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);
        panel->setReplyDelay(delayMs);
        QTest::mouseClick(swatchFor(*dialog, litColor(*panel), true), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(calls(*panel, "pair_resolve"), 1, 10000);
    } else {
        panel->setReplyDelay(delayMs);
        dialog = new ColorChallengeDialog();
        dialog->setBaseUrl(baseUrl(panel->address()));
        dialog->show();
        QTRY_COMPARE_WITH_TIMEOUT(calls(*panel, "pair_start"), 1, 10000);
    }
    QSignalSpy keys(dialog.data(), &ColorChallengeDialog::keyAvailable);
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    dialog->close();
    QTRY_VERIFY(dialog.isNull());
    // The replies come back to a dialog that is gone.
    QTest::qWait(delayMs + 300);
    QCOMPARE(keys.count(), 0);
    QCOMPARE(calls(*panel, "pair_exchange"), 0);
    QCOMPARE(calls(*panel, "pair_cancel"), duringResolve ? 1 : 0);
}

void TestColorChallenge::hostileStart_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<PairingStage>("stage");
    QTest::addColumn<int>("duration");
    QTest::addColumn<int>("swatches");
    const QByteArray colors = "\"options\":{\"colors\":[\"ff0000\",\"#00ff00\"]}";
    auto challenge = [](const QByteArray& inner) {
        return "{\"challenge\":{" + inner + "}}";
    };
    QTest::newRow("not JSON") << 200 << QByteArray("<html>") << PairingStage::Failed << 0 << 6;
    QTest::newRow("challenge is text")
        << 200 << QByteArray("{\"challenge\":\"x\"}") << PairingStage::Failed << 0 << 6;
    QTest::newRow("no state") << 200 << challenge("\"uuid\":\"u\",\"duration\":30") << PairingStage::Failed
                              << 0 << 6;
    QTest::newRow("expired") << 200 << challenge("\"uuid\":\"u\",\"state\":\"expired\"")
                             << PairingStage::TimedOut << 0 << 6;
    QTest::newRow("huge duration")
        << 200 << challenge("\"uuid\":\"u\",\"duration\":1e308,\"state\":\"in-progress\"," + colors)
        << PairingStage::ChoosingColor << PairingChallenge::kMaxDurationS << 6;
    QTest::newRow("negative duration")
        << 200 << challenge("\"uuid\":\"u\",\"duration\":-5,\"state\":\"in-progress\"," + colors)
        << PairingStage::TimedOut << 0 << 6;
    QByteArray many = "\"uuid\":\"u\",\"duration\":30,\"state\":\"in-progress\",\"options\":{\"colors\":[";
    for (int i = 0; i < 50; ++i)
        many += QByteArray(i ? "," : "") + "\"123456\"";
    QTest::newRow("50 colours") << 200 << challenge(many + "]}") << PairingStage::ChoosingColor << 30
                                << PairingChallenge::kMaxColors;
    QTest::newRow("huge body") << -1 << QByteArray() << PairingStage::Failed << 0 << 6;
    QTest::newRow("401") << 401 << QByteArray() << PairingStage::NotSupported << 0 << 6;
}

void TestColorChallenge::hostileStart()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(PairingStage, stage);
    QFETCH(int, duration);
    QFETCH(int, swatches);
    const QByteArray start = "POST /api/v2/user/?type=pick_color";
    TestHttpServer server;
    const QString address = QStringLiteral("127.0.60.%1").arg(++m_hostile);
    QVERIFY(server.listen(QHostAddress(address)));
    if (status < 0)
        server.setMode(start, TestHttpServer::Mode::HugeBody);
    else
        server.setRawReply(start, reply(status, body));
    ColorChallengeDialog dialog;
    dialog.setBaseUrl(baseUrl(address));
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(start), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.stage(), stage, 10000);
    QCOMPARE(dialog.challenge().duration, duration);
    QCOMPARE(dialog.swatches().size(), swatches);
    if (stage == PairingStage::ChoosingColor && body.contains("#00ff00")) {
        QCOMPARE(dialog.challenge().colors.mid(0, 2), (QList<QColor>{QColor(Qt::red), QColor(Qt::green)}));
        QCOMPARE(dialog.challenge().colorNames.mid(0, 2),
                 (QStringList{QStringLiteral("ff0000"), QStringLiteral("#00ff00")}));
    }
}

void TestColorChallenge::untrustedTextsInRequests_data()
{
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("color");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("exchangeReply");
    QTest::addColumn<QString>("key");
    const QByteArray plain = "/api/v2/user/challenge/0f1e";
    QTest::newRow("ordinary") << "0f1e"
                              << "ff0000" << plain << reply(200, "{\"user\":{\"key\":\"k1\"}}") << "k1";
    QTest::newRow("path in the id")
        << "../../device/stream/stop?x=1#y"
        << "ff0000" << QByteArray("/api/v2/user/challenge/..%2F..%2Fdevice%2Fstream%2Fstop%3Fx%3D1%23y")
        << reply(200, "{\"user\":{\"key\":\"k2\"}}") << "k2";
    QTest::newRow("quote in the colour")
        << "0f1e"
        << "ff\"}0000" << plain << reply(200, "{\"user\":{\"key\":\"k3\"}}") << "k3";
    QTest::newRow("empty key") << "0f1e"
                               << "ff0000" << plain << reply(200, "{\"user\":{\"key\":\"\"}}") << QString();
    QTest::newRow("exchange not JSON") << "0f1e"
                                       << "ff0000" << plain << reply(200, "key=k") << QString();
}

void TestColorChallenge::untrustedTextsInRequests()
{
    QFETCH(QString, uuid);
    QFETCH(QString, color);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, exchangeReply);
    QFETCH(QString, key);
    TestHttpServer server;
    const QString address = QStringLiteral("127.0.60.%1").arg(++m_hostile);
    QVERIFY(server.listen(QHostAddress(address)));
    server.setRawReply("POST /api/v2/user/?type=pick_color", reply(200, challengeJson(uuid, {color})));
    server.setRawReply("PUT " + path, reply(200, "{}"));
    server.setRawReply("POST /api/v2/user/exchange", exchangeReply);
    ColorChallengeDialog dialog;
    QSignalSpy keys(&dialog, &ColorChallengeDialog::keyAvailable);
    dialog.setBaseUrl(baseUrl(address));
    dialog.show();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.stage(), PairingStage::ChoosingColor, 10000);
    QTest::mouseClick(dialog.swatches().at(0), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("POST /api/v2/user/exchange"), 1, 10000);
    QCOMPARE(server.requestCount("PUT " + path), 1);
    QCOMPARE(QJsonDocument::fromJson(server.lastBody("PUT " + path)).object(),
             (QJsonObject{{QStringLiteral("color"), color}}));
    QCOMPARE(
        server.lastBody("POST /api/v2/user/exchange"),
        QJsonDocument(QJsonObject{{QStringLiteral("challenge_id"), uuid}}).toJson(QJsonDocument::Compact));
    if (key.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(dialog.stage(), PairingStage::Failed, 10000);
        QCOMPARE(keys.count(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(keys.count(), 1, 10000);
        QCOMPARE(keys.at(0).at(0).toString(), key);
    }
}

QTEST_MAIN(TestColorChallenge)
#include "tst_colorchallenge.moc"
