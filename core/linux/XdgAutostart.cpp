#include "core/linux/XdgAutostart.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
const QString kFileName = QStringLiteral("PivotrixEntertainment.desktop");
}

XdgAutostart::XdgAutostart(QString autostartDir)
    : m_dir(std::move(autostartDir))
{
    if (m_dir.isEmpty())
        m_dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                QStringLiteral("/autostart");
}

QString XdgAutostart::filePath() const
{
    return m_dir + QLatin1Char('/') + kFileName;
}

QString XdgAutostart::quoteExecArgument(const QString& arg)
{
    // Field codes start with '%', so a literal one is doubled whether quoted or not.
    QString escaped = arg;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : arg)
        needsQuotes = needsQuotes || reserved.contains(c);
    if (!needsQuotes)
        return escaped;
    QString quoted;
    for (QChar c : qAsConst(escaped)) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    // The string-value escape is undone before the quoting rule, so every backslash is written twice.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString XdgAutostart::escapeString(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    escaped.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    escaped.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    return escaped;
}

QByteArray XdgAutostart::entryText(const QString& executable)
{
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Pivotrix Entertainment\n"
                                        "Comment=Ambient light for Pivotrix PRISM panels\n"
                                        "Exec=%1 --minimized\n"
                                        "TryExec=%2\n"
                                        "Icon=com.pivotrix_entertainment.PivotrixEntertainment\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(quoteExecArgument(executable), escapeString(executable));
    return text.toUtf8();
}

bool XdgAutostart::enable(const QString& executable)
{
    if (!QDir().mkpath(m_dir)) {
        qCDebug(lcPivotrix) << "cannot create autostart dir" << m_dir;
        return false;
    }
    // Unbuffered, so that a full disk fails the write rather than committing an empty entry.
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qCDebug(lcPivotrix) << "cannot write autostart entry" << filePath() << file.errorString();
        return false;
    }
    const QByteArray text = entryText(executable);
    if (file.write(text) != text.size() || !file.commit()) {
        qCDebug(lcPivotrix) << "cannot write autostart entry" << filePath() << file.errorString();
        return false;
    }
    return true;
}

bool XdgAutostart::disable()
{
    QFile file(filePath());
    if (!file.exists())
        return true;
    if (!file.remove()) {
        qCDebug(lcPivotrix) << "cannot remove autostart entry" << filePath() << file.errorString();
        return false;
    }
    return true;
}

bool XdgAutostart::isEnabled() const
{
    return QFile::exists(filePath());
}
