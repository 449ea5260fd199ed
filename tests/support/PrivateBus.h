#pragma once

#include <QApplication>
#include <QByteArray>
#include <QTest>

#include <sys/types.h>

// A private D-Bus daemon for one test program, stopped when the object goes. Usable before any
// QCoreApplication exists, so a test can point the session bus at it before Qt first reads it.
class PrivateBus
{
public:
    PrivateBus() { launch({}); }
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const { return m_pid > 0 && !m_address.isEmpty(); }
    QByteArray address() const { return m_address; }
    // Stops the daemon and starts another on the same address, as a restarted session bus.
    bool restart();

private:
    void launch(const QByteArray& options);

    QByteArray m_address;
    pid_t m_pid = 0;
};

// A test program's main whose one private bus stands in for the system and session buses; Qt reads their
// addresses once, before the application object exists.
template <class Test> int execOnPrivateBus(int argc, char** argv)
{
    PrivateBus bus;
    if (!bus.isRunning())
        qFatal("dbus-daemon did not start");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address());
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
