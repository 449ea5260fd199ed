// The colour challenge dialog against emulated panels and, for hostile replies, a scripted HTTP server.
#include "discovery/ColorChallengeDialog.h"
#include "emulator/EmulatorWindow.h"
#include "support/PanelFixture.h"
#include "support/TestHttpServer.h"
#include "ui/Resources.h"
#include "ui/RoundRectWidget.h"

#include <QtTest>
#include <QtWidgets>

Q_DECLARE_METATYPE(PairingStage)

namespace {
const QByteArray kStart = "POST /api/v2/user/?type=pick_color";

QString baseUrl(const QString& address)
{
    return QStringLiteral("http://%1:8080").arg(address);
}

int calls(const EmulatedPanel& panel, const char* kind)
{
    return int(panel.requestCounts().value(QLatin1String(kind)));
}

// The swatch showing the colour the panel lights, or (lit false) one that does not.
RoundRectWidget* swatch(const ColorChallengeDialog& dialog, const EmulatedPanel& panel, bool lit)
{
    const QVariant color = panel.statusJson()
                               .toVariantMap()
                               .value(QStringLiteral("pairing"))
                               .toMap()
                               .value(QStringLiteral("lit_color"));
    const QList<QColor> colors = dialog.challenge().colors;
    for (int i = 0; i < colors.size(); ++i) {
        if ((colors.at(i).name() == color.toString()) == lit)
            return dialog.swatches().at(i);
    }
    return nullptr;
}

QByteArray reply(int status, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}
struct Outcome
{
    bool supported;
    int duration;
    bool clickOther; // a colour the panel does not light
    const char* title;
    const char* retryText;
    const char* button;
};

} // namespace
Q_DECLARE_METATYPE(Outcome)

class TestColorChallenge : public QObject
{
    Q_OBJECT
private:
    PanelFixture m_panels{60};
    int m_hostile = 200;

    // A shown dialog for panel that has had the panel's answer to its start.
    std::unique_ptr<ColorChallengeDialog> open(const EmulatedPanel& panel)
    {
        auto dialog = std::make_unique<ColorChallengeDialog>();
        dialog->setBaseUrl(baseUrl(panel.address()));
        dialog->show();
        (void)QTest::qWaitFor([&] { return dialog->stage() != PairingStage::Requesting; }, 10000);
        return dialog;
    }

    // A scripted server on a fresh address of the test's range.
    QString listen(TestHttpServer& server)
    {
        const QString address = QStringLiteral("127.0.60.%1").arg(++m_hostile);
        return server.listen(QHostAddress(address)) ? address : QString();
    }

private slots:
    void initTestCase() { ensureResourcesLoaded(); }

    // How a challenge that does not pair ends: what the dialog says, and no key (the right colour pairs in
    // tst_searchpage).
    void outcome_data()
    {
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("wrong colour") << Outcome{true, 30, true, "Failed", "Please, try again", "Retry"};
        QTest::newRow("duration 0") << Outcome{true, 0, false, "Timeout", "Please, try again", "Retry"};
        QTest::newRow("401") << Outcome{
            false, 30, false, "Not Supported", "Streaming feature unavailable on this device", "OK"};
    }
    void outcome()
    {
        QFETCH(Outcome, outcome);
        PanelConfig config;
        config.pairingSupported = outcome.supported;
        config.pairingDurationS = outcome.duration;
        auto panel = m_panels.start(config);
        QVERIFY(panel);
        auto dialog = open(*panel);
        QSignalSpy keys(dialog.get(), &ColorChallengeDialog::keyAvailable);
        if (outcome.clickOther) {
            QCOMPARE(dialog->swatches().size(), 6);
            QTest::mouseClick(swatch(*dialog, *panel, false), Qt::LeftButton);
        }
        QTRY_COMPARE_WITH_TIMEOUT(dialog->findChild<QLabel*>(QStringLiteral("titleLabel"))->text(),
                                  QLatin1String(outcome.title), 10000);
        QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("retryLabel"))->text(),
                 QLatin1String(outcome.retryText));
        auto* retry = dialog->findChild<QPushButton*>(QStringLiteral("retryButton"));
        QVERIFY(retry->isVisible());
        QCOMPARE(retry->text(), QLatin1String(outcome.button));
        QCOMPARE(keys.count(), 0);
        QCOMPARE(panel->apiKey(), PanelConfig().apiKey);
    }

    // Right and middle clicks on a swatch and clicks where the hidden retry button lies send nothing; the
    // shown retry button starts again.
    void strayClicksSendNothing()
    {
        auto panel = m_panels.start();
        QVERIFY(panel);
        auto dialog = open(*panel);
        QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);
        QTest::mouseClick(swatch(*dialog, *panel, true), Qt::RightButton);
        QTest::mouseClick(swatch(*dialog, *panel, true), Qt::MiddleButton);
        auto* retry = dialog->findChild<QPushButton*>(QStringLiteral("retryButton"));
        QVERIFY(retry->isHidden());
        QTest::mouseClick(dialog.get(), Qt::LeftButton, {}, retry->geometry().center());
        QTest::qWait(300);
        QCOMPARE(calls(*panel, "pair_resolve"), 0);
        QCOMPARE(calls(*panel, "pair_start"), 1);
        QCOMPARE(dialog->stage(), PairingStage::ChoosingColor);

        QTest::mouseClick(swatch(*dialog, *panel, false), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::Failed, 10000);
        QTest::mouseClick(dialog.get(), Qt::LeftButton, {}, retry->geometry().center());
        QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::ChoosingColor, 10000);
        QCOMPARE(calls(*panel, "pair_start"), 2);
    }

    // A dialog closed and gone at once: a challenge in progress is cancelled (the panel stops lighting its
    // colour), a finished one is not, and late replies to a gone dialog pair nothing.
    void closing_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<int>("cancels");
        QTest::newRow("choosing") << "choosing" << 1;
        QTest::newRow("after Failed") << "failed" << 0;
        QTest::newRow("start outstanding") << "starting" << 0;
        QTest::newRow("resolve outstanding") << "resolving" << 1;
    }
    void closing()
    {
        QFETCH(QString, stage);
        QFETCH(int, cancels);
        auto panel = m_panels.start();
        QVERIFY(panel);
        const int delayMs = 800;
        if (stage == QLatin1String("starting"))
            panel->setReplyDelay(delayMs);
        auto dialog = std::make_unique<ColorChallengeDialog>();
        dialog->setBaseUrl(baseUrl(panel->address()));
        dialog->show();
        QTRY_COMPARE_WITH_TIMEOUT(calls(*panel, "pair_start"), 1, 10000);
        if (stage != QLatin1String("starting"))
            QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::ChoosingColor, 10000);
        EmulatorWindow window(panel.get());
        if (stage == QLatin1String("choosing"))
            QTRY_VERIFY(window.shownColor().isValid());
        if (stage == QLatin1String("failed")) {
            QTest::mouseClick(swatch(*dialog, *panel, false), Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::Failed, 10000);
        } else if (stage == QLatin1String("resolving")) {
            panel->setReplyDelay(delayMs);
            QTest::mouseClick(swatch(*dialog, *panel, true), Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(calls(*panel, "pair_resolve"), 1, 10000);
        }
        dialog->close();
        dialog.reset();
        QTest::qWait(delayMs + 300);
        QTRY_COMPARE_WITH_TIMEOUT(calls(*panel, "pair_cancel"), cancels, 10000);
        QCOMPARE(calls(*panel, "pair_exchange"), 0);
        if (stage == QLatin1String("choosing"))
            QTRY_COMPARE(window.shownColor(), QColor());
    }

    void hostileStart_data()
    {
        QTest::addColumn<int>("status"); // -1: an endless body
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<PairingStage>("stage");
        QTest::addColumn<int>("duration");
        QTest::addColumn<int>("swatches");
        const auto challenge = [](const QByteArray& inner) {
            return "{\"challenge\":{" + inner + "}}";
        };
        const QByteArray running = "\"uuid\":\"u\",\"state\":\"in-progress\",";
        const QByteArray colors = "\"options\":{\"colors\":[\"ff0000\",\"#00ff00\"]}";
        QByteArray many = "\"options\":{\"colors\":[\"123456\"";
        for (int i = 1; i < 50; ++i)
            many += ",\"123456\"";
        const PairingStage failed = PairingStage::Failed;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>") << failed << 0 << 6;
        QTest::newRow("challenge is text") << 200 << QByteArray("{\"challenge\":\"x\"}") << failed << 0 << 6;
        QTest::newRow("no state") << 200 << challenge("\"uuid\":\"u\",\"duration\":30") << failed << 0 << 6;
        QTest::newRow("expired") << 200 << challenge("\"uuid\":\"u\",\"state\":\"expired\"")
                                 << PairingStage::TimedOut << 0 << 6;
        QTest::newRow("huge duration") << 200 << challenge(running + "\"duration\":1e308," + colors)
                                       << PairingStage::ChoosingColor << PairingChallenge::kMaxDurationS << 6;
        QTest::newRow("negative duration")
            << 200 << challenge(running + "\"duration\":-5," + colors) << PairingStage::TimedOut << 0 << 6;
        QTest::newRow("50 colours") << 200 << challenge(running + "\"duration\":30," + many + "]}")
                                    << PairingStage::ChoosingColor << 30 << PairingChallenge::kMaxColors;
        QTest::newRow("huge body") << -1 << QByteArray() << failed << 0 << 6;
        QTest::newRow("401") << 401 << QByteArray() << PairingStage::NotSupported << 0 << 6;
    }
    void hostileStart()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(PairingStage, stage);
        QFETCH(int, duration);
        QFETCH(int, swatches);
        TestHttpServer server;
        const QString address = listen(server);
        QVERIFY(!address.isEmpty());
        if (status < 0)
            server.setMode(kStart, TestHttpServer::Mode::HugeBody);
        else
            server.setRawReply(kStart, reply(status, body));
        ColorChallengeDialog dialog;
        dialog.setBaseUrl(baseUrl(address));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(kStart), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.stage(), stage, 10000);
        QCOMPARE(dialog.challenge().duration, duration);
        QCOMPARE(dialog.swatches().size(), swatches);
        if (stage == PairingStage::ChoosingColor && body.contains("#00ff00")) {
            QCOMPARE(dialog.challenge().colors.mid(0, 2),
                     (QList<QColor>{QColor(Qt::red), QColor(Qt::green)}));
            QCOMPARE(dialog.challenge().colorNames.mid(0, 2),
                     (QStringList{QStringLiteral("ff0000"), QStringLiteral("#00ff00")}));
        }
    }

    // The panel's id and colour go back escaped as they came; a reply without a key fails.
    void untrustedTextsInRequests_data()
    {
        QTest::addColumn<QString>("uuid");
        QTest::addColumn<QString>("color");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("exchangeReply");
        QTest::addColumn<QString>("key"); // empty: pairing fails
        const QByteArray plain = "/api/v2/user/challenge/0f1e";
        const QByteArray k1 = reply(200, "{\"user\":{\"key\":\"k1\"}}");
        const auto row = [](const char* name, const char* uuid, const char* color, const QByteArray& path,
                            const QByteArray& exchangeReply, const char* key) {
            QTest::newRow(name) << QString::fromUtf8(uuid) << QString::fromUtf8(color) << path
                                << exchangeReply << QString::fromUtf8(key);
        };
        row("ordinary", "0f1e", "ff0000", plain, k1, "k1");
        row("path in the id", "../../device/stream/stop?x=1#y", "ff0000",
            "/api/v2/user/challenge/..%2F..%2Fdevice%2Fstream%2Fstop%3Fx%3D1%23y", k1, "k1");
        row("quote in the colour", "0f1e", "ff\"}0000", plain, k1, "k1");
        row("empty key", "0f1e", "ff0000", plain, reply(200, "{\"user\":{\"key\":\"\"}}"), "");
        row("exchange not JSON", "0f1e", "ff0000", plain, reply(200, "key=k"), "");
    }
    void untrustedTextsInRequests()
    {
        QFETCH(QString, uuid);
        QFETCH(QString, color);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, exchangeReply);
        QFETCH(QString, key);
        TestHttpServer server;
        const QString address = listen(server);
        QVERIFY(!address.isEmpty());
        const QJsonObject challenge{
            {QStringLiteral("uuid"), uuid},
            {QStringLiteral("duration"), 30},
            {QStringLiteral("options"), QJsonObject{{QStringLiteral("colors"), QJsonArray{color}}}},
            {QStringLiteral("state"), QStringLiteral("in-progress")}};
        server.setRawReply(kStart,
                           reply(200, QJsonDocument(QJsonObject{{QStringLiteral("challenge"), challenge}})
                                          .toJson(QJsonDocument::Compact)));
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
        QCOMPARE(server.lastBody("POST /api/v2/user/exchange"),
                 QJsonDocument(QJsonObject{{QStringLiteral("challenge_id"), uuid}})
                     .toJson(QJsonDocument::Compact));
        if (key.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(dialog.stage(), PairingStage::Failed, 10000);
        else
            QTRY_COMPARE_WITH_TIMEOUT(keys.value(0).value(0).toString(), key, 10000);
        QCOMPARE(keys.count(), key.isEmpty() ? 0 : 1);
    }
};

QTEST_MAIN(TestColorChallenge)
#include "tst_colorchallenge.moc"
