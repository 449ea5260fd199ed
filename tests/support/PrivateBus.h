#pragma once

#include <QByteArray>

#include <sys/types.h>

// A private D-Bus daemon for one test program, stopped when the object goes. Usable before any
// QCoreApplication exists, so a test can point the session bus at it before Qt first reads it.
class PrivateBus
{
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const { return m_pid > 0 && !m_address.isEmpty(); }
    QByteArray address() const { return m_address; }

private:
    QByteArray m_address;
    pid_t m_pid = 0;
};
