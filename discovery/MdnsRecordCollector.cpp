#include "discovery/MdnsRecordCollector.h"

#include "core/DiagnosticLog.h"
#include "discovery/MdnsMessage.h"

#include <QDebug>

using MdnsMessage::readU16;

QVector<PivotrixBSS> MdnsRecordCollector::addDatagram(const char* bytes, int size, const MdnsSource& source)
{
    QVector<PivotrixBSS> found;
    const auto* data = reinterpret_cast<const uchar*>(bytes);
    // A source without an address text could never make a complete record.
    if (!data || size < MdnsMessage::headerSize || !source.isValid())
        return found;
    const int questions = readU16(data + 4);
    const int records = readU16(data + 6) + readU16(data + 8) + readU16(data + 10);

    int offset = MdnsMessage::headerSize;
    for (int i = 0; i < questions; ++i) {
        offset = MdnsMessage::readName(data, size, offset);
        if (offset < 0 || size - offset < 4)
            return found;
        offset += 4;
    }
    // Answers, authority and additional records are handled alike, one after the other; anything that does
    // not fit ends the datagram rather than reading past it.
    for (int i = 0; i < records; ++i) {
        offset = MdnsMessage::readName(data, size, offset);
        if (offset < 0 || size - offset < 10)
            return found;
        const quint16 type = readU16(data + offset);
        const int length = readU16(data + offset + 8);
        offset += 10;
        if (length > size - offset)
            return found;
        handleRecord(data + offset, type, length, source, found);
        offset += length;
    }
    return found;
}

void MdnsRecordCollector::handleRecord(const uchar* rdata, quint16 type, int length, const MdnsSource& source,
                                       QVector<PivotrixBSS>& found)
{
    PivotrixBSS& record = m_records[source.address];
    if (record.address.isEmpty())
        record.address = source.address;
    if (type == MdnsMessage::typeSrv) {
        record.port = length < 8 ? 0 : readU16(rdata + 4);
        report(record, source, found);
    } else if (type == MdnsMessage::typeTxt) {
        handleTxt(rdata, length, record, source, found);
    }
}

void MdnsRecordCollector::handleTxt(const uchar* txt, int length, PivotrixBSS& record,
                                    const MdnsSource& source, QVector<PivotrixBSS>& found)
{
    int kept = 0;
    int at = 0;
    while (at < length && kept < maxTxtStrings) {
        const int stringLength = txt[at];
        if (stringLength > length - at - 1)
            return; // runs past its record
        const auto* string = reinterpret_cast<const char*>(txt + at + 1);
        at += 1 + stringLength;

        int equals = 0;
        bool printable = true;
        while (equals < stringLength && string[equals] != '=') {
            const auto byte = uchar(string[equals]);
            if (byte < 0x20 || byte > 0x7E)
                printable = false;
            ++equals;
        }
        if (!printable || (stringLength > 0 && equals == 0))
            continue;
        ++kept;
        if (equals >= stringLength - 1)
            continue; // no value
        const QByteArray key(string, equals < 2 ? equals : 2);
        const QByteArray value(string + equals + 1, stringLength - equals - 1);
        if (key == "nm") {
            record.name = QString::fromUtf8(value);
        } else if (key == "md") {
            record.model = QString::fromUtf8(value);
        } else if (key == "id") {
            const QString id = QString::fromUtf8(value);
            if (!record.id.isEmpty() && record.id != id) {
                if (!m_idConflicts.contains(source.address)) {
                    m_idConflicts.insert(source.address);
                    qCDebug(lcPivotrix)
                        << "mdns: further device ids from one address ignored" << source.address;
                }
                continue;
            }
            record.id = id;
            if (!source.ipv6)
                m_ipv4Ids.insert(id);
        } else if (key == "ss") {
            bool ok = false;
            const int flag = value.toInt(&ok, 10);
            record.ssFlag = ok ? flag : 0;
        } else {
            continue;
        }
        report(record, source, found);
    }
}

void MdnsRecordCollector::report(const PivotrixBSS& record, const MdnsSource& source,
                                 QVector<PivotrixBSS>& found)
{
    if (!record.isComplete())
        return;
    // A panel answers on both families; an IPv4 address it already gave stays the one to use.
    if (source.ipv6 && m_ipv4Ids.contains(record.id))
        return;
    if (!m_reportedIds.contains(record.id)) {
        if (m_reportedIds.size() >= maxDevices) {
            if (!m_capLogged)
                qCDebug(lcPivotrix) << "mdns: more panels than one scan lists, ignored from"
                                    << source.address;
            m_capLogged = true;
            return;
        }
        m_reportedIds.insert(record.id);
    }
    found.append(record);
}
