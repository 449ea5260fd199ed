#include "emulator/PanelFrameParser.h"

namespace {
int readLe16(const QByteArray& data, int offset)
{
    return int(uchar(data.at(offset))) | (int(uchar(data.at(offset + 1))) << 8);
}
} // namespace

PanelFrameParser::PanelFrameParser(const QByteArray& sessionId, const QSize& canvas)
    : m_sessionField(sessionField(sessionId))
    , m_canvas(canvas)
{}

QByteArray PanelFrameParser::sessionField(const QByteArray& sessionId)
{
    QByteArray field = sessionId.left(kSessionSize);
    field.append(QByteArray(kSessionSize - field.size(), '\0'));
    return field;
}

PanelFrameParser::Frame PanelFrameParser::parse(const QByteArray& datagram) const
{
    Frame frame;
    if (datagram.size() < kHeaderSize + kTrailerSize) {
        frame.verdict = Verdict::TooShort;
        return frame;
    }
    if (!datagram.startsWith("pxsp")) {
        frame.verdict = Verdict::Magic;
        return frame;
    }
    if (readLe16(datagram, 4) != 1) {
        frame.verdict = Verdict::Version;
        return frame;
    }
    if (datagram.mid(6, kSessionSize) != m_sessionField) {
        frame.verdict = Verdict::Session;
        return frame;
    }
    // Only raw RGB is shown by this panel.
    if (datagram.at(22) != 0) {
        frame.verdict = Verdict::Encoding;
        return frame;
    }
    static const char kConstants[7] = {1, 1, 0, 0, 0, 0, 0};
    if (datagram.mid(23, 7) != QByteArray(kConstants, 7)) {
        frame.verdict = Verdict::Header;
        return frame;
    }
    const int width = readLe16(datagram, 30);
    const int height = readLe16(datagram, 32);
    const int length = readLe16(datagram, 34);
    if (width != m_canvas.width() || height != m_canvas.height()) {
        frame.verdict = Verdict::Size;
        return frame;
    }
    // The product is 64-bit: a canvas as large as the command line allows overflows an int.
    if (length != 3 * qint64(width) * height || datagram.size() != kHeaderSize + length + kTrailerSize) {
        frame.verdict = Verdict::Length;
        return frame;
    }
    if (datagram.at(kHeaderSize + length) != 0 || datagram.at(kHeaderSize + length + 1) != 0) {
        frame.verdict = Verdict::Trailer;
        return frame;
    }
    frame.verdict = Verdict::Good;
    frame.width = width;
    frame.height = height;
    frame.rgb = datagram.mid(kHeaderSize, length);
    return frame;
}

QString PanelFrameParser::verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Good:
        return QStringLiteral("good");
    case Verdict::TooShort:
        return QStringLiteral("too_short");
    case Verdict::Magic:
        return QStringLiteral("magic");
    case Verdict::Version:
        return QStringLiteral("version");
    case Verdict::Session:
        return QStringLiteral("session");
    case Verdict::Encoding:
        return QStringLiteral("encoding");
    case Verdict::Header:
        return QStringLiteral("header");
    case Verdict::Size:
        return QStringLiteral("size");
    case Verdict::Length:
        return QStringLiteral("length");
    case Verdict::Trailer:
        return QStringLiteral("trailer");
    }
    return QStringLiteral("unknown");
}
