#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QVariantMap>

// Reads the panel's JSON replies. Pure and total: any body, however malformed, gives a safe result, so the
// readers are fuzzed as the controller calls them.
class PanelReply
{
public:
    struct DeviceInfo
    {
        QString name;
        QString serial;
        QString osVersion;
        QString model;
    };

    // What a start reply grants: `status` as the panel words it; `port` and `sessionId` only when both are
    // usable (port 1-65535, session id hex text), otherwise 0 and empty.
    struct StartGrant
    {
        QString status;
        int port = 0;
        QByteArray sessionId;
        bool usable() const { return port > 0; }
    };

    // The top-level object of the body; empty when it is not a JSON object.
    static QVariantMap map(const QByteArray& body);
    static DeviceInfo deviceInfo(const QVariantMap& reply);
    // The status a stream or stop reply reports.
    static QString status(const QVariantMap& reply);
    // The canvas a stream reply reports, or `whenMissing` when it names no size.
    static QSize canvas(const QVariantMap& reply, const QSize& whenMissing);
    static StartGrant startGrant(const QVariantMap& reply);
};
