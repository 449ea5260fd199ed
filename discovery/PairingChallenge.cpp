#include "discovery/PairingChallenge.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

ChallengeState PairingChallenge::stateFromText(const QString& text)
{
    if (text == QLatin1String("not-started"))
        return ChallengeState::NotStarted;
    if (text == QLatin1String("in-progress"))
        return ChallengeState::InProgress;
    if (text == QLatin1String("expired"))
        return ChallengeState::Expired;
    if (text == QLatin1String("canceled"))
        return ChallengeState::Canceled;
    if (text == QLatin1String("resolved"))
        return ChallengeState::Resolved;
    return ChallengeState::Other;
}

PairingChallenge PairingChallenge::fromJson(const QJsonObject& challenge)
{
    PairingChallenge c;
    c.uuid = challenge.value(QStringLiteral("uuid")).toString();
    c.date = QDateTime::fromString(challenge.value(QStringLiteral("date")).toString(), Qt::TextDate);
    c.receivedAt = QDateTime::currentDateTime();
    // A huge or fractional number would overflow the countdown's milliseconds.
    const double duration = challenge.value(QStringLiteral("duration")).toDouble();
    c.duration = std::isfinite(duration) ? int(qBound(0.0, duration, double(kMaxDurationS))) : 0;
    const QJsonArray colors =
        challenge.value(QStringLiteral("options")).toObject().value(QStringLiteral("colors")).toArray();
    for (const QJsonValue& value : colors) {
        if (c.colorNames.size() >= kMaxColors)
            break;
        const QString name = value.toString();
        c.colorNames << name;
        c.colors << QColor(name.startsWith(QLatin1Char('#')) ? name : QLatin1Char('#') + name);
    }
    c.state = stateFromText(challenge.value(QStringLiteral("state")).toString());
    return c;
}

PairingChallenge PairingChallenge::fromReply(const QByteArray& body)
{
    return fromJson(QJsonDocument::fromJson(body).object().value(QStringLiteral("challenge")).toObject());
}

QString PairingChallenge::keyFromExchange(const QByteArray& body)
{
    const QJsonObject user = QJsonDocument::fromJson(body).object().value(QStringLiteral("user")).toObject();
    return user.value(QStringLiteral("key")).toString();
}

QByteArray PairingChallenge::redactedExchange(const QByteArray& body, int maxBytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return QByteArrayLiteral("<not a JSON object, ") + QByteArray::number(body.size()) + " bytes>";
    QJsonObject reply = document.object();
    QJsonObject user = reply.value(QStringLiteral("user")).toObject();
    if (user.contains(QStringLiteral("key"))) {
        user.insert(QStringLiteral("key"), QStringLiteral("<redacted>"));
        reply.insert(QStringLiteral("user"), user);
    }
    return QJsonDocument(reply).toJson(QJsonDocument::Compact).left(maxBytes);
}

bool PairingChallenge::sameAs(const PairingChallenge& other) const
{
    return uuid == other.uuid && date == other.date && duration == other.duration && colors == other.colors &&
           state == other.state;
}
