#include "support/PrivateDisk.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTest>

namespace PrivateDisk {

void rerunInside(qint64 bytes)
{
    if (QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("-rm"), QStringLiteral("true")}) != 0)
        QSKIP("private mount namespaces are not permitted here (unshare -rm)");
    QString test = QLatin1String(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        test += QLatin1Char(':') + QLatin1String(QTest::currentDataTag());
    const QString mount =
        QStringLiteral("mount -t tmpfs -o size=%1,mode=0700 tmpfs \"$0\" && exec \"$@\"").arg(bytes);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    qputenv("PIVOTRIX_PRIVATE_DISK", "inside");
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"), mount, QDir::tempPath(),
                 QCoreApplication::applicationFilePath(), test});
    qunsetenv("PIVOTRIX_PRIVATE_DISK");
    QVERIFY(child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0); // the failures, printed above
}

bool setReadOnly(bool readOnly)
{
    // The mount point, not the file system: that is all a namespace of our own may change.
    const QString options = QLatin1String(readOnly ? "remount,bind,ro" : "remount,bind,rw");
    return QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), options, QDir::tempPath()}) == 0;
}

} // namespace PrivateDisk
