#include "discovery/MdnsMessage.h"

#include <QList>

#include <cstring>

namespace MdnsMessage {

namespace {
void putU16(char* p, quint16 value)
{
    p[0] = char(value >> 8);
    p[1] = char(value & 0xFF);
}
} // namespace

int composeQuery(char* buffer, int capacity, bool unicastResponse)
{
    const quint16 types[] = {typePtr, typeA, typeTxt};
    constexpr int questions = int(sizeof types / sizeof types[0]);
    if (!buffer || capacity < headerSize + 6 * questions)
        return 0;
    std::memset(buffer, 0, headerSize);
    putU16(buffer + 4, questions);
    int at = headerSize;
    const quint16 qclass = classIn | (unicastResponse ? unicastResponseBit : 0);
    for (quint16 type : types) {
        const char* label = serviceType;
        while (*label) {
            const char* dot = std::strchr(label, '.');
            const int length = dot ? int(dot - label) : int(std::strlen(label));
            if (length == 0)
                break;
            if (at + 1 + length + 1 + 4 > capacity)
                return 0;
            buffer[at++] = char(length);
            std::memcpy(buffer + at, label, size_t(length));
            at += length;
            label += length + (dot ? 1 : 0);
        }
        buffer[at++] = 0;
        putU16(buffer + at, type);
        putU16(buffer + at + 2, qclass);
        at += 4;
    }
    return at;
}

int readName(const uchar* data, int size, int offset, QByteArray* dotted)
{
    if (!data || offset < 0)
        return -1;
    if (dotted)
        dotted->clear();
    int at = offset;
    int end = -1; // past the name where it was written, fixed by the first pointer
    int pointers = 0;
    int labels = 0;
    int length = 1; // the terminating zero byte
    for (;;) {
        if (at >= size)
            return -1;
        const uchar byte = data[at];
        if ((byte & 0xC0) == 0xC0) {
            if (at + 1 >= size || ++pointers > maxPointers)
                return -1;
            const int target = ((byte & 0x3F) << 8) | data[at + 1];
            if (target < headerSize || target >= at)
                return -1;
            if (end < 0)
                end = at + 2;
            at = target;
            continue;
        }
        if (byte & 0xC0) // the reserved label types
            return -1;
        if (byte == 0)
            return end < 0 ? at + 1 : end;
        if (++labels > maxLabels)
            return -1;
        length += 1 + byte;
        if (length > maxNameLength || at + 1 + byte > size)
            return -1;
        if (dotted) {
            dotted->append(reinterpret_cast<const char*>(data + at + 1), byte);
            dotted->append('.');
        }
        at += 1 + byte;
    }
}

bool appendName(QByteArray& out, const QByteArray& dotted)
{
    const QList<QByteArray> parts = dotted.endsWith('.') ? dotted.chopped(1).split('.') : dotted.split('.');
    QByteArray name;
    for (const QByteArray& label : parts) {
        if (label.isEmpty() || label.size() > 63)
            return false;
        name.append(char(label.size()));
        name.append(label);
    }
    name.append('\0');
    if (name.size() > maxNameLength)
        return false;
    out.append(name);
    return true;
}

void appendU16(QByteArray& out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

void appendU32(QByteArray& out, quint32 value)
{
    appendU16(out, quint16(value >> 16));
    appendU16(out, quint16(value & 0xFFFF));
}

} // namespace MdnsMessage
