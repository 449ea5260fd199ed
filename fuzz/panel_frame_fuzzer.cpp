// libFuzzer target over the emulated panel's frame validator. The first input byte picks the open session
// and canvas: bit 0 takes the session from the datagram's own field, bit 1 the canvas from its own size
// fields (so the later checks are reached), otherwise a fixed session and the canvas in the next four bytes.
// Oracle: a good frame is exactly the canvas in RGB and fills the datagram.
#include "emulator/PanelFrameParser.h"

#include <cstdint>
#include <cstdlib>

namespace {
int le16(const uint8_t* p)
{
    return p[0] | (p[1] << 8);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const QByteArray datagram(reinterpret_cast<const char*>(data + 5), int(size - 5));
    QByteArray session = QByteArray::fromHex("0102030405");
    if ((data[0] & 1) && datagram.size() >= 22)
        session = datagram.mid(6, 16);
    QSize canvas(le16(data + 1), le16(data + 3));
    if ((data[0] & 2) && datagram.size() >= 34)
        canvas = QSize(le16(data + 5 + 30), le16(data + 5 + 32));
    const PanelFrameParser::Frame frame = PanelFrameParser(session, canvas).parse(datagram);
    if (frame.verdict == PanelFrameParser::Verdict::Good &&
        (frame.width != canvas.width() || frame.height != canvas.height() ||
         frame.rgb.size() != 3 * frame.width * frame.height ||
         datagram.size() !=
             PanelFrameParser::kHeaderSize + frame.rgb.size() + PanelFrameParser::kTrailerSize))
        std::abort();
    return 0;
}
