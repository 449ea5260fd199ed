#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

// Process start-up and shutdown of the tray application.
class ApplicationShell
{
public:
    static int run(int argc, char** argv);

    static bool hasMinimizedFlag(const QStringList& arguments);
    // `dataLocation` is the per-user application data directory, possibly empty.
    static QString settingsPath(const QString& dataLocation);
    // Largest device pixel ratio, never below 1.
    static float scaleFactor(const QList<qreal>& devicePixelRatios);
    static QSize scaledFixedSize(const QSize& designed, float factor);
    static void installApplicationFont();
    // Keeps Qt's X11 platform from loading a GL driver for a window that draws without GL; a choice
    // already made in the environment stands. Before the application object; true when it chose.
    static bool avoidOpenGl();
    // After the application object: fixes the choice in the platform, then takes it back out of the
    // environment so that programs started from here choose for themselves.
    static void settleOpenGlChoice(bool chosenHere);
    // Before the application object: Qt's network bearer reads its poll interval once.
    static void stopBearerPolling();
};
