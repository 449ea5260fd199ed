#pragma once

#include <QByteArray>

// The DNS wire format as the scan and the emulated panels' responder speak it (RFC 1035, 6762, 6763).
namespace MdnsMessage {

constexpr char serviceType[] = "_pivotrix-api._tcp.local.";
constexpr quint16 mdnsPort = 5353;
constexpr char ipv4Group[] = "224.0.0.251";
constexpr char ipv6Group[] = "ff02::fb";
constexpr int headerSize = 12;
constexpr int bufferSize = 42048;
constexpr int maxLabels = 64;
constexpr int maxPointers = 16;
constexpr int maxNameLength = 255;
constexpr quint16 typeA = 1;
constexpr quint16 typePtr = 12;
constexpr quint16 typeTxt = 16;
constexpr quint16 typeAaaa = 28;
constexpr quint16 typeSrv = 33;
constexpr quint16 classIn = 1;
constexpr quint16 unicastResponseBit = 0x8000;

// Writes the PTR, A and TXT questions for the service type into `buffer`; returns the length, or 0 when it
// does not fit. The unicast-response bit is set unless the sending socket itself sits on the mDNS port.
int composeQuery(char* buffer, int capacity, bool unicastResponse);

inline quint16 readU16(const uchar* p)
{
    return quint16((p[0] << 8) | p[1]);
}

// Follows the name at `offset` through its labels and compression pointers. Pointers must lead strictly
// backwards and never into the header, so a name cannot loop. Returns the offset just past the name as
// written at `offset`, or -1 when it is malformed; `dotted` (optional) receives "a.b.c." form.
int readName(const uchar* data, int size, int offset, QByteArray* dotted = nullptr);

// Appends `dotted` ("a.b.local." or without the final dot) as uncompressed labels; false when a label is
// empty or longer than 63 bytes or the name exceeds 255 bytes.
bool appendName(QByteArray& out, const QByteArray& dotted);
void appendU16(QByteArray& out, quint16 value);
void appendU32(QByteArray& out, quint32 value);

} // namespace MdnsMessage
