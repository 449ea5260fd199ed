// Copying one QByteArray or QString over another is done inside Debian's Qt, which ThreadSanitizer does not
// see: when that drops the last reference to data another thread let go of, the sanitizer sees the free but
// not the atomic count that ordered it, and reports a race on the panel's last frame or key. These
// definitions take the place of the library's for calls from our code and do the same thing out of the
// inline, instrumented copy, swap and release. Nothing is suppressed.
#include <QByteArray>
#include <QString>

QByteArray& QByteArray::operator=(const QByteArray& other) noexcept
{
    QByteArray copy(other);
    swap(copy);
    return *this;
}

QString& QString::operator=(const QString& other) noexcept
{
    QString copy(other);
    swap(copy);
    return *this;
}
