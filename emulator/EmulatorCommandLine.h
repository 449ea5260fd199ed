#pragma once

#include "emulator/PanelConfig.h"

#include <QList>
#include <QString>
#include <QStringList>

// The prism-emulator command line: one PanelConfig per emulated panel.
struct EmulatorCommandLine
{
    QList<PanelConfig> panels;
    bool window = false;
    // Answer mDNS queries sent straight to a panel's address, as a panel on the same link does.
    bool directMdns = true;

    // False with a message for the user when the arguments make no sense.
    bool parse(const QStringList& arguments, QString* error);
};
