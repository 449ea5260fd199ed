// The Windows session and power messages, decoded on any platform.
#include "capture/session/SessionMessageDecoder.h"
#include "capture/session/SystemSession.h"

#include <QtTest>

#include <cstring>

using D = SessionMessageDecoder;

namespace {
// A POWERBROADCAST_SETTING block: the setting's GUID, the data length, one byte of data.
QByteArray powerSetting(const QByteArray& guid, quint32 length, unsigned char value)
{
    QByteArray block = guid + QByteArray(5, '\0');
    std::memcpy(block.data() + 16, &length, sizeof length);
    block[20] = char(value);
    return block;
}
} // namespace

class TestSessionMessages : public QObject
{
    Q_OBJECT
private slots:
    // The power-setting block is parsed; the other messages are a plain table look-up, represented by lock
    // and unlock.
    void decode_data()
    {
        QTest::addColumn<quint32>("message");
        QTest::addColumn<quintptr>("wParam");
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<int>("state");
        const auto row = [](const char* name, quint32 message, quintptr wParam, int state,
                            const QByteArray& setting = QByteArray()) {
            QTest::newRow(name) << message << wParam << setting << state;
        };
        const unsigned char foreign[16] = {1, 2, 3};
        const QByteArray display =
            QByteArray::fromRawData(reinterpret_cast<const char*>(D::kConsoleDisplayState), 16);
        const quintptr change = D::kPowerSettingChange;
        row("lock", D::kSessionChange, D::kSessionLock, SystemSession::SessionLocked);
        row("unlock", D::kSessionChange, D::kSessionUnlock, SystemSession::SessionUnlocked);
        row("remote connect", D::kSessionChange, 0x1, -1);
        row("display off", D::kPowerBroadcast, change, SystemSession::DisplayOff,
            powerSetting(display, 4, 0));
        row("display on", D::kPowerBroadcast, change, SystemSession::DisplayOn, powerSetting(display, 4, 1));
        row("display dimmed", D::kPowerBroadcast, change, -1, powerSetting(display, 4, 2));
        row("foreign setting", D::kPowerBroadcast, change, -1,
            powerSetting(QByteArray(reinterpret_cast<const char*>(foreign), 16), 4, 0));
        row("zero data length", D::kPowerBroadcast, change, -1, powerSetting(display, 0, 0));
        row("setting change without block", D::kPowerBroadcast, change, -1);
        row("other message", 0x0010, D::kSessionLock, -1);
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
