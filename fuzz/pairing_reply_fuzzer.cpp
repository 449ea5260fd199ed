// libFuzzer target over the colour challenge's replies: the challenge a start or status reply describes and
// the key an exchange reply grants, with the exchange reply as it is logged. Oracle: the challenge stays in
// its bounds, and a logged reply never shows the key it carries.
#include "discovery/PairingChallenge.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    const PairingChallenge challenge = PairingChallenge::fromReply(body);
    if (challenge.duration < 0 || challenge.duration > PairingChallenge::kMaxDurationS ||
        challenge.colorNames.size() > PairingChallenge::kMaxColors ||
        challenge.colors.size() != challenge.colorNames.size())
        std::abort();
    const QString key = PairingChallenge::keyFromExchange(body);
    if (PairingChallenge::redactedExchange(body, 512).size() > 512)
        std::abort();
    const QJsonDocument logged = QJsonDocument::fromJson(PairingChallenge::redactedExchange(body, 1 << 30));
    const QJsonValue shown =
        logged.object().value(QStringLiteral("user")).toObject().value(QStringLiteral("key"));
    if (!key.isEmpty() && shown.toString() != QLatin1String("<redacted>"))
        std::abort();
    return 0;
}
