#include "core/SingleInstanceMessage.h"

#include <QTextCodec>
#include <QtEndian>

QByteArray SingleInstanceMessage::frame(const QString& message)
{
    const QByteArray payload = message.toUtf8();
    if (payload.isEmpty() || payload.size() > kMaxBytes)
        return {};
    QByteArray frame(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), frame.data());
    return frame + payload;
}

SingleInstanceMessage::Reading SingleInstanceMessage::read(const QByteArray& buffer, bool moreWaiting,
                                                           QString* message, const char** reason)
{
    if (buffer.size() < 4)
        return Reading::Incomplete;
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length == 0 || length > quint32(kMaxBytes)) {
        *reason = "bad length";
        return Reading::Refused;
    }
    if (buffer.size() < int(4 + length))
        return Reading::Incomplete;
    if (buffer.size() > int(4 + length) || moreWaiting) {
        *reason = "bytes after the message";
        return Reading::Refused;
    }
    QTextCodec::ConverterState state;
    *message = QTextCodec::codecForName("UTF-8")->toUnicode(buffer.constData() + 4, int(length), &state);
    if (state.invalidChars != 0 || state.remainingChars != 0) {
        *reason = "message not utf-8";
        return Reading::Refused;
    }
    return Reading::Complete;
}
