#pragma once

#include <QLocale>

class QCoreApplication;

// The texts of the windows in the user's language: ours from the embedded catalogues, Qt's own (standard
// buttons, context menus) from the system's Qt translations where the distribution ships them.
class Translations
{
public:
    // Returns whether a catalogue of ours matched the locale; English needs none.
    static bool install(QCoreApplication& app, const QLocale& locale = QLocale());
};
