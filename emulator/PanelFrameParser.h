#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

// Checks one "pxsp" datagram the way a panel must: every header field against the open session and the
// canvas, and the datagram size against the length field.
class PanelFrameParser
{
public:
    enum class Verdict
    {
        Good,
        TooShort,
        Magic,
        Version,
        Session,
        Encoding,
        Header,
        Size,
        Length,
        Trailer
    };

    struct Frame
    {
        Verdict verdict = Verdict::TooShort;
        int width = 0;
        int height = 0;
        QByteArray rgb;
    };

    static constexpr int kHeaderSize = 36;
    static constexpr int kTrailerSize = 2;
    static constexpr int kSessionSize = 16;

    PanelFrameParser(const QByteArray& sessionId, const QSize& canvas);

    Frame parse(const QByteArray& datagram) const;

    static QString verdictName(Verdict verdict);
    // The 16 bytes a frame of this session carries: the id's first bytes, zero-padded.
    static QByteArray sessionField(const QByteArray& sessionId);

private:
    QByteArray m_sessionField;
    QSize m_canvas;
};
