#pragma once

#include "core/AutostartRegistration.h"

// "PivotrixEntertainment.desktop" in $XDG_CONFIG_HOME/autostart (~/.config/autostart by default).
class XdgAutostart : public AutostartRegistration
{
public:
    // An empty directory means the user's autostart directory.
    explicit XdgAutostart(QString autostartDir = QString());

    bool enable(const QString& executable) override;
    bool disable() override;
    bool isEnabled() const override;

    QString filePath() const;
    // Desktop-entry quoting of one Exec argument (quotes only when the path needs them).
    static QString quoteExecArgument(const QString& arg);
    // A string value with the desktop-entry escapes.
    static QString escapeString(const QString& value);
    // TryExec lets the desktop skip an entry whose program was uninstalled since.
    static QByteArray entryText(const QString& executable);

private:
    QString m_dir;
};
