// libFuzzer target over the mDNS reply parser. The first input byte picks the responder's address family
// and where the rest splits into two datagrams from the same responder. Oracle: every record emitted is
// complete and from the responder, and no datagram yields more records than it has room for.
#include "discovery/MdnsMessage.h"
#include "discovery/MdnsRecordCollector.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {
void feed(MdnsRecordCollector& collector, const uint8_t* data, size_t size, const MdnsSource& source)
{
    // An exact-size copy, so that any read past the datagram is caught.
    const std::vector<char> datagram(data, data + size);
    const QVector<PivotrixBSS> found = collector.addDatagram(datagram.data(), int(datagram.size()), source);
    // The smallest thing that emits a record is one TXT string "nm=x" (a length byte and four more); an SRV
    // record is larger.
    if (found.size() > std::max(0, int(size) - MdnsMessage::headerSize) / 5)
        std::abort();
    for (const PivotrixBSS& device : found) {
        if (!device.isComplete() || device.address != source.address)
            std::abort();
    }
    for (int offset = 0; offset < int(size) && offset < 64; ++offset) {
        const int end =
            MdnsMessage::readName(reinterpret_cast<const uchar*>(datagram.data()), int(size), offset);
        if (end != -1 && (end <= offset || end > int(size)))
            std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool ipv6 = data[0] & 1;
    const size_t rest = size - 1;
    const size_t split = (data[0] >> 1) >= 64 ? rest : rest * (data[0] >> 1) / 64;
    const MdnsSource source =
        MdnsSource::fromNumericHost(QString::fromLatin1(ipv6 ? "fe80::1%lo" : "192.168.1.20"), ipv6);
    MdnsRecordCollector collector;
    feed(collector, data + 1, split, source);
    if (split < rest)
        feed(collector, data + 1 + split, rest - split, source);
    return 0;
}
