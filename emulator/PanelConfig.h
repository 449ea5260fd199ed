#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

enum class PanelFault
{
    None,
    Offline, // nothing listens on the API port; a running session ends
    Http500, // every panel call answers 500
    Standby, // the panel idles: sessions end, start answers "standby" without a session
    Hang,    // the API takes connections and requests but answers none while it lasts
    Reset    // every API connection is reset as soon as it is taken
};

// Everything that makes one emulated panel.
struct PanelConfig
{
    QString address = QStringLiteral("127.0.0.2");
    QString name = QStringLiteral("Emulated PRISM");
    QString id;
    QString model = QStringLiteral("px3");
    QString serial;
    QString osVersion = QStringLiteral("1.0.0-emulator");
    QSize canvas{4, 8};
    QString apiKey = QStringLiteral("emulator-key");
    // Where the key a pairing hands out is kept for the next start; empty: nowhere.
    QString keyFile;
    // Hex digits handed out as every session's id; empty means 16 random bytes per session.
    QString sessionId;
    // Leave "size" out of the stream reply, as some firmware does.
    bool reportCanvasSize = true;
    int apiPort = 8080;
    int statusPort = 8081;
    PanelFault fault = PanelFault::None;
    int replyDelayMs = 0;
    // Pairing: without it the user API answers 401, as on panels that lack the feature.
    bool pairingSupported = true;
    int pairingDurationS = 30;
    // Which of the six challenge colours the panel lights; -1 picks one at random per challenge.
    int pairingColorIndex = -1;
};

QString faultName(PanelFault fault);
// False for an unknown name.
bool faultFromName(const QString& name, PanelFault* fault);
