#pragma once

#include "support/ScreenCastDesktop.h"

// A headless GNOME desktop with the screen-sharing side of ScreenCastDesktop: mutter with virtual monitors
// and software rendering, its portal with the real share dialog, and the user (gnome_desktop.py), who shows
// the test's pictures full screen and answers the dialog over the accessibility bus. command() takes that
// script's commands ("answer share", "answer cancel", "dialogs", "scale", "sessions"); Part::Backend is the
// compositor with the portal and the windows that live on it.
class GnomeDesktop : public ScreenCastDesktop
{
public:
    // The first package not installed here, or empty.
    static QString missing();
    // Monitors 1, 2, ... of these sizes, side by side from the origin.
    QString start(const QList<QSize>& monitors);
};
