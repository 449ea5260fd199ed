#pragma once

#include "emulator/PanelFrameParser.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

class FrameStatistics;

// The UDP end of one stream session: a socket on the panel's address and an ephemeral port, read on its
// own thread so that arrival times are taken as the datagrams come in.
class PanelStreamReceiver
{
public:
    PanelStreamReceiver(const QString& address, const QByteArray& sessionId, const QSize& canvas,
                        FrameStatistics* statistics);
    ~PanelStreamReceiver();

    PanelStreamReceiver(const PanelStreamReceiver&) = delete;
    PanelStreamReceiver& operator=(const PanelStreamReceiver&) = delete;

    // Binds and starts reading; returns false (with a reason) when the socket could not be bound.
    bool start(QString* error);
    void stop();
    quint16 port() const { return m_port.load(); }
    // Frames are checked against this canvas from the next datagram on.
    void setCanvas(const QSize& canvas);

private:
    void run();

    const QString m_address;
    const QByteArray m_sessionId;
    std::mutex m_parserLock;
    PanelFrameParser m_parser;
    FrameStatistics* const m_statistics;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<quint16> m_port{0};
};
