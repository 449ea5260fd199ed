// The Windows session and power messages, decoded on any platform.
#include "capture/session/SessionMessageDecoder.h"
#include "capture/session/SystemSession.h"

#include <QtTest>

#include <cstring>

using D = SessionMessageDecoder;

namespace {
QByteArray powerSetting(const unsigned char* guid, quint32 length, unsigned char value)
{
    QByteArray block(21, '\0');
    std::memcpy(block.data(), guid, 16);
    std::memcpy(block.data() + 16, &length, sizeof length);
    block[20] = char(value);
    return block;
}
} // namespace

class TestSessionMessages : public QObject
{
    Q_OBJECT
private slots:
    void decode_data()
    {
        QTest::addColumn<quint32>("message");
        QTest::addColumn<quintptr>("wParam");
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<int>("state");
        const unsigned char foreign[16] = {1, 2, 3};
        const QByteArray none;
        QTest::newRow("end of session")
            << D::kQueryEndSession << quintptr(0) << none << int(SystemSession::SessionEnding);
        QTest::newRow("lock") << D::kSessionChange << D::kSessionLock << none
                              << int(SystemSession::SessionLocked);
        QTest::newRow("unlock") << D::kSessionChange << D::kSessionUnlock << none
                                << int(SystemSession::SessionUnlocked);
        QTest::newRow("remote connect") << D::kSessionChange << quintptr(0x1) << none << -1;
        QTest::newRow("suspend") << D::kPowerBroadcast << D::kSuspend << none
                                 << int(SystemSession::SystemSuspending);
        QTest::newRow("resume") << D::kPowerBroadcast << D::kResumeSuspend << none
                                << int(SystemSession::SystemResumed);
        QTest::newRow("display off") << D::kPowerBroadcast << D::kPowerSettingChange
                                     << powerSetting(D::kConsoleDisplayState, 4, 0)
                                     << int(SystemSession::DisplayOff);
        QTest::newRow("display on") << D::kPowerBroadcast << D::kPowerSettingChange
                                    << powerSetting(D::kConsoleDisplayState, 4, 1)
                                    << int(SystemSession::DisplayOn);
        QTest::newRow("display dimmed") << D::kPowerBroadcast << D::kPowerSettingChange
                                        << powerSetting(D::kConsoleDisplayState, 4, 2) << -1;
        QTest::newRow("foreign setting")
            << D::kPowerBroadcast << D::kPowerSettingChange << powerSetting(foreign, 4, 0) << -1;
        QTest::newRow("zero data length") << D::kPowerBroadcast << D::kPowerSettingChange
                                          << powerSetting(D::kConsoleDisplayState, 0, 0) << -1;
        QTest::newRow("setting change without block")
            << D::kPowerBroadcast << D::kPowerSettingChange << none << -1;
        QTest::newRow("other message") << quint32(0x0010) << D::kSessionLock << none << -1;
    }
    void decode()
    {
        QFETCH(quint32, message);
        QFETCH(quintptr, wParam);
        QFETCH(QByteArray, setting);
        QFETCH(int, state);
        const auto* block =
            setting.isEmpty() ? nullptr : reinterpret_cast<const unsigned char*>(setting.constData());
        QCOMPARE(D::decode(message, wParam, block), state);
    }
};

QTEST_GUILESS_MAIN(TestSessionMessages)
#include "tst_sessionmessages.moc"
