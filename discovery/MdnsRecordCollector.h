#pragma once

#include "discovery/MdnsSource.h"
#include "discovery/PivotrixBSS.h"

#include <QMap>
#include <QSet>
#include <QVector>

// Assembles panel records from mDNS replies, keyed by the responder's address, for the length of one scan.
// Pure: no sockets, so hostile datagrams are tested and fuzzed directly.
class MdnsRecordCollector
{
public:
    static constexpr int maxTxtStrings = 128;
    // Distinct panels one scan may report: a single host must not flood the list.
    static constexpr int maxDevices = 64;

    // Parses one datagram and returns a copy of the responder's record each time it is complete after an
    // update, in order. Malformed input ends the datagram; what was handled before stays. A panel has one
    // identity: the first id an address gives is the one it keeps for the scan.
    QVector<PivotrixBSS> addDatagram(const char* data, int size, const MdnsSource& source);

    const QMap<QString, PivotrixBSS>& records() const { return m_records; }

private:
    void handleRecord(const uchar* rdata, quint16 type, int length, const MdnsSource& source,
                      QVector<PivotrixBSS>& found);
    void handleTxt(const uchar* data, int length, PivotrixBSS& record, const MdnsSource& source,
                   QVector<PivotrixBSS>& found);
    void report(const PivotrixBSS& record, const MdnsSource& source, QVector<PivotrixBSS>& found);

    QMap<QString, PivotrixBSS> m_records;
    QSet<QString> m_reportedIds;
    // Ids given from an IPv4 address: the address to keep for the panel.
    QSet<QString> m_ipv4Ids;
    QSet<QString> m_idConflicts;
    bool m_capLogged = false;
};
