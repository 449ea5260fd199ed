#include "core/win/RunKeyAutostart.h"

#include <QSettings>

namespace {
const QString kRunKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kValueName = QStringLiteral("PivotrixEntertainment");
} // namespace

bool RunKeyAutostart::enable(const QString& executable)
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    QString path = executable;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    run.setValue(kValueName, path + QStringLiteral(" --minimized"));
    run.sync();
    return run.status() == QSettings::NoError;
}

bool RunKeyAutostart::disable()
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    run.remove(kValueName);
    run.sync();
    return run.status() == QSettings::NoError;
}

bool RunKeyAutostart::isEnabled() const
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    return run.contains(kValueName);
}
