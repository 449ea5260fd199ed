#include "discovery/PivotrixScanningThread.h"

#include "core/DiagnosticLog.h"
#include "discovery/MdnsMessage.h"
#include "discovery/MdnsRecordCollector.h"
#include "discovery/MdnsTransport.h"

#include <QDebug>
#include <QElapsedTimer>

#include <algorithm>
#include <vector>

namespace {
// The scan waits in short slices so that a requested interruption (application shutdown) ends it promptly;
// the silence that ends it is still measured from the last datagram.
constexpr int waitSliceMs = 250;
} // namespace

PivotrixScanningThread::PivotrixScanningThread() = default;

void PivotrixScanningThread::run()
{
    qCDebug(lcPivotrix) << "send query";
    const std::unique_ptr<MdnsTransport> transport = MdnsTransport::create();
    if (transport->open() == 0) {
        qCDebug(lcPivotrix) << "mdns: no usable address, nothing to scan";
        return;
    }
    std::vector<char> buffer(MdnsMessage::bufferSize);
    transport->sendQuery(buffer.data(), int(buffer.size()));

    MdnsRecordCollector collector;
    const auto sink = [&](int size, const MdnsSource& source) {
        for (const PivotrixBSS& device : collector.addDatagram(buffer.data(), size, source))
            emit DeviceFound(device);
    };
    QElapsedTimer quiet;
    quiet.start();
    while (!isInterruptionRequested()) {
        const qint64 left = m_silenceMs - quiet.elapsed();
        if (left <= 0)
            break;
        const int readable = transport->receive(int(std::min<qint64>(left, waitSliceMs)), buffer.data(),
                                                int(buffer.size()), sink);
        if (readable < 0) {
            qCDebug(lcPivotrix) << "mdns: waiting for replies failed";
            break;
        }
        if (readable > 0)
            quiet.restart();
    }
}
