#pragma once

#include "discovery/MdnsSource.h"
#include "discovery/PivotrixBSS.h"

#include <QMap>
#include <QVector>

// Assembles panel records from mDNS replies, keyed by the responder's address, for the length of one scan.
// Pure: no sockets, so hostile datagrams are tested and fuzzed directly.
class MdnsRecordCollector
{
public:
    static constexpr int maxTxtStrings = 128;

    // Parses one datagram and returns a copy of the responder's record each time it is complete after an
    // update, in order. Malformed input ends the datagram; what was handled before stays.
    QVector<PivotrixBSS> addDatagram(const char* data, int size, const MdnsSource& source);

    const QMap<QString, PivotrixBSS>& records() const { return m_records; }

private:
    void handleRecord(const uchar* rdata, quint16 type, int length, const MdnsSource& source,
                      QVector<PivotrixBSS>& found);
    void handleTxt(const uchar* data, int length, PivotrixBSS& record, const MdnsSource& source,
                   QVector<PivotrixBSS>& found);
    void report(const PivotrixBSS& record, const MdnsSource& source, QVector<PivotrixBSS>& found) const;

    QMap<QString, PivotrixBSS> m_records;
};
