#pragma once

#include <QColor>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

enum class ChallengeState
{
    NotStarted = 0,
    InProgress = 1,
    Expired = 2,
    Other = 3,
    Canceled = 4,
    Resolved = 5
};

// One colour challenge as the panel described it. Everything in it comes from the panel and is
// untrusted: the duration is clamped and the colour list capped.
struct PairingChallenge
{
    // Longer than any panel asks for, short enough that the countdown stays meaningful.
    static constexpr int kMaxDurationS = 600;
    // Three rows of swatches; more would not fit the dialog.
    static constexpr int kMaxColors = 9;

    QString uuid;
    QDateTime date;
    QDateTime receivedAt;
    int duration = 0;
    QList<QColor> colors;
    QStringList colorNames;
    ChallengeState state = ChallengeState::NotStarted;

    // Reads the object found under "challenge"; receivedAt is now.
    static PairingChallenge fromJson(const QJsonObject& challenge);
    // The challenge a start or status reply's body carries; an empty one when the body has none.
    static PairingChallenge fromReply(const QByteArray& body);
    // The API key an exchange reply grants, empty when it grants none.
    static QString keyFromExchange(const QByteArray& body);
    // The exchange reply for the log: the key replaced, at most `maxBytes` long.
    static QByteArray redactedExchange(const QByteArray& body, int maxBytes);
    static ChallengeState stateFromText(const QString& text);

    // The fields a repeated Start reply is compared on.
    bool sameAs(const PairingChallenge& other) const;
};
