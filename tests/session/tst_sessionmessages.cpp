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
    void decode()
    {
        const QByteArray display =
            QByteArray::fromRawData(reinterpret_cast<const char*>(D::kConsoleDisplayState), 16);
        const auto power = [](const QByteArray& block) {
            return D::decode(D::kPowerBroadcast, D::kPowerSettingChange,
                             reinterpret_cast<const unsigned char*>(block.constData()));
        };
        QCOMPARE(D::decode(D::kSessionChange, D::kSessionLock, nullptr), int(SystemSession::SessionLocked));
        QCOMPARE(D::decode(D::kSessionChange, D::kSessionUnlock, nullptr),
                 int(SystemSession::SessionUnlocked));
        QCOMPARE(D::decode(D::kSessionChange, 0x1, nullptr), -1); // a remote connection
        QCOMPARE(power(powerSetting(display, 4, 0)), int(SystemSession::DisplayOff));
        QCOMPARE(power(powerSetting(display, 4, 1)), int(SystemSession::DisplayOn));
        QCOMPARE(power(powerSetting(display, 4, 2)), -1);                                  // dimmed
        QCOMPARE(power(powerSetting(display.left(15) + char(~display.at(15)), 4, 0)), -1); // another setting
        QCOMPARE(power(powerSetting(display, 0, 0)), -1);                                  // no data
        QCOMPARE(D::decode(D::kPowerBroadcast, D::kPowerSettingChange, nullptr), -1);
        QCOMPARE(D::decode(0x0010, D::kSessionLock, nullptr), -1);
    }
};

QTEST_GUILESS_MAIN(TestSessionMessages)
#include "tst_sessionmessages.moc"
