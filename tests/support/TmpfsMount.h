#pragma once

#include <QString>
#include <QTemporaryDir>

// A small disk of the test's own: a tmpfs in a private mount namespace (unshare -rm), where the test
// function runs again, so that a full or read-only disk hits nothing but the test. In the test function:
//     if (!TmpfsMount::inside()) { const int failures = TmpfsMount::rerunInside(&why); ...; return; }
class TmpfsMount
{
public:
    static bool inside();
    // Runs the current test function and row again inside and returns its exit status (0: it passed);
    // -1, with the reason, where such namespaces are not permitted.
    static int rerunInside(QString* why);

    // Inside: a tmpfs of `bytes` on a fresh directory, unmounted again by the destructor.
    explicit TmpfsMount(qint64 bytes);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool isMounted() const { return m_mounted; }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    bool setReadOnly(bool readOnly);

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
