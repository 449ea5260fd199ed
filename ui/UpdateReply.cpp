#include "ui/UpdateReply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
// Parts compare as numbers of any length: longer (after leading zeros) is larger, else text order.
int compareNumbers(QString a, QString b)
{
    while (a.size() > 1 && a.startsWith(QLatin1Char('0')))
        a.remove(0, 1);
    while (b.size() > 1 && b.startsWith(QLatin1Char('0')))
        b.remove(0, 1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

QStringList versionParts(const QString& text)
{
    // ASCII digits only, and nothing after the last one (not even a newline).
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("((?:[0-9]+\\.){2}[0-9]+)")));
    const QString captured = pattern.match(text).captured(1);
    return captured.split(QLatin1Char('.'), Qt::SkipEmptyParts);
}
} // namespace

UpdateReply UpdateReply::read(const QByteArray& body)
{
    UpdateReply reply;
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    const QJsonValue offered = document.object().value(QStringLiteral("version"));
    if (!document.isObject())
        reply.problem = QStringLiteral("update answer is not a JSON object: ") + parseError.errorString();
    else if (!offered.isString() || offered.toString().isEmpty())
        reply.problem = QStringLiteral("update answer has no version");
    else {
        reply.version = offered.toString();
        reply.downloadUrl = document.object().value(QStringLiteral("download_url")).toString();
    }
    return reply;
}

bool UpdateReply::isNewerVersion(const QString& current, const QString& candidate)
{
    if (current == candidate)
        return false;
    const QStringList have = versionParts(current);
    const QStringList offered = versionParts(candidate);
    if (have.isEmpty() || offered.isEmpty())
        return false;
    for (int i = 0; i < 3; ++i) {
        const int order = compareNumbers(have.at(i), offered.at(i));
        if (order != 0)
            return order < 0;
    }
    return false;
}
