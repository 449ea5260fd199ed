#include "support/TmpfsMount.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <sys/mount.h>

namespace {
constexpr char kVariable[] = "PIVOTRIX_PRIVATE_MOUNTS";
} // namespace

bool TmpfsMount::inside()
{
    return qgetenv(kVariable) == "inside";
}

int TmpfsMount::rerunInside(QString* why)
{
    if (QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("-rm"), QStringLiteral("true")}) != 0) {
        *why = QStringLiteral("private mount namespaces are not permitted here (unshare -rm)");
        return -1;
    }
    QString test = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        test += QLatin1Char(':') + QString::fromLatin1(QTest::currentDataTag());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kVariable), QStringLiteral("inside"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-rm"), QCoreApplication::applicationFilePath(), test});
    const bool ended = child.waitForFinished(60000);
    return ended && child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 128;
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
