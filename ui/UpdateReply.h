#pragma once

#include <QByteArray>
#include <QString>

// The update service's answer and the version order it is judged by. Pure, so that whatever the service
// or a man in the middle sends is fuzzed as the checker reads it.
struct UpdateReply
{
    // Only a well-formed record offers a version; otherwise `problem` says what is wrong, for the log.
    QString version;
    QString downloadUrl;
    QString problem;

    static UpdateReply read(const QByteArray& body);
    // Both must be "major.minor.patch" in ASCII digits; anything else is never newer.
    static bool isNewerVersion(const QString& current, const QString& candidate);
};
