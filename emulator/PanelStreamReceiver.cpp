#include "emulator/PanelStreamReceiver.h"

#include "emulator/FrameStatistics.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <future>
#include <memory>

PanelStreamReceiver::PanelStreamReceiver(const QString& address, const QByteArray& sessionId,
                                         const QSize& canvas, FrameStatistics* statistics)
    : m_address(address)
    , m_sessionId(sessionId)
    , m_parser(sessionId, canvas)
    , m_statistics(statistics)
{}

PanelStreamReceiver::~PanelStreamReceiver()
{
    stop();
}

bool PanelStreamReceiver::start(QString* error)
{
    auto bound = std::make_shared<std::promise<QString>>();
    std::future<QString> result = bound->get_future();
    m_thread = std::thread([this, bound] {
        // The socket lives and dies on this thread; no event loop is needed for the blocking waits.
        QUdpSocket socket;
        if (!socket.bind(QHostAddress(m_address), 0)) {
            bound->set_value(socket.errorString());
            return;
        }
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
        m_port = socket.localPort();
        bound->set_value(QString());
        QByteArray datagram;
        while (!m_stop.load()) {
            if (!socket.waitForReadyRead(50))
                continue;
            while (socket.hasPendingDatagrams()) {
                const auto arrival = FrameStatistics::Clock::now();
                const qint64 size = socket.pendingDatagramSize();
                datagram.resize(int(qMax<qint64>(size, 0)));
                const qint64 read = socket.readDatagram(datagram.data(), datagram.size());
                if (read < 0)
                    break;
                datagram.resize(int(read));
                std::unique_lock<std::mutex> locker(m_parserLock);
                const PanelFrameParser::Frame frame = m_parser.parse(datagram);
                locker.unlock();
                m_statistics->record(frame, arrival);
            }
        }
    });
    const QString failure = result.get();
    if (!failure.isEmpty()) {
        m_thread.join();
        if (error)
            *error = failure;
        return false;
    }
    return true;
}

void PanelStreamReceiver::setCanvas(const QSize& canvas)
{
    std::lock_guard<std::mutex> locker(m_parserLock);
    m_parser = PanelFrameParser(m_sessionId, canvas);
}

void PanelStreamReceiver::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}
