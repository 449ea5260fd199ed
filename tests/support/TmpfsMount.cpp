#include "support/TmpfsMount.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <sys/mount.h>

void TmpfsMount::rerunInside()
{
    QString test = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        test += QLatin1Char(':') + QString::fromLatin1(QTest::currentDataTag());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PIVOTRIX_PRIVATE_MOUNTS"), QStringLiteral("inside"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    if (QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("-rm"), QStringLiteral("true")}) != 0)
        QSKIP("private mount namespaces are not permitted here (unshare -rm)");
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-rm"), QCoreApplication::applicationFilePath(), test});
    QVERIFY(child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0); // the failures, printed above
}

TmpfsMount::TmpfsMount(qint64 bytes)
{
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    m_mounted = inside() && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0,
                                    options.constData()) == 0;
}

TmpfsMount::~TmpfsMount()
{
    // Before the directory goes: a mount point cannot be removed.
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

bool TmpfsMount::setReadOnly(bool readOnly)
{
    // The mount point, not the file system: a namespace of our own may change only that.
    const unsigned long flags = MS_REMOUNT | MS_BIND | (readOnly ? MS_RDONLY : 0);
    return ::mount(nullptr, QFile::encodeName(m_dir.path()).constData(), nullptr, flags, nullptr) == 0;
}
