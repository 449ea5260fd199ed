#pragma once

#include <QString>
#include <QTemporaryDir>

// A small disk of the test's own: a tmpfs in a private mount namespace (unshare -rm), where the test
// function runs again, so that a full or read-only disk hits nothing but the test. First in the function:
//     if (!TmpfsMount::inside()) return TmpfsMount::rerunInside();
class TmpfsMount
{
public:
    static bool inside() { return qgetenv("PIVOTRIX_PRIVATE_MOUNTS") == "inside"; }
    // Runs the current test function and row again inside: passes when that run passes, skips where such
    // namespaces are not permitted.
    static void rerunInside();

    // Inside: a tmpfs of `bytes` on a fresh directory, unmounted again by the destructor.
    explicit TmpfsMount(qint64 bytes);
    ~TmpfsMount();

    bool isMounted() const { return m_mounted; }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    bool setReadOnly(bool readOnly);

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
