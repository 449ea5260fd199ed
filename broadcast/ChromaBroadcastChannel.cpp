#include "broadcast/ChromaBroadcastChannel.h"

#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

QString ChromaBroadcastChannel::socketPath(QString* error)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        *error = QStringLiteral("no runtime directory");
        return QString();
    }
    struct stat st = {};
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = QStringLiteral("runtime directory missing: ") + dir;
        return QString();
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        *error = QStringLiteral("runtime directory not private: ") + dir;
        return QString();
    }
    const QString path = dir + QLatin1Char('/') + QLatin1String(kSocketName);
    if (size_t(QFile::encodeName(path).size()) >= sizeof(sockaddr_un::sun_path)) {
        *error = QStringLiteral("runtime directory path too long: ") + dir;
        return QString();
    }
    return path;
}
