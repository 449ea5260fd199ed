#include "core/Translations.h"

#include "core/DiagnosticLog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QTranslator>

bool Translations::install(QCoreApplication& app, const QLocale& locale)
{
    // Parented to the application so they live exactly as long as the texts that use them.
    auto* qtOwn = new QTranslator(&app);
    if (qtOwn->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qtOwn);
    else
        delete qtOwn;

    // The catalogues sit in a static library, where nothing else pulls them into the executable.
    Q_INIT_RESOURCE(translations);
    auto* ours = new QTranslator(&app);
    if (!ours->load(locale, QStringLiteral("pivotrix"), QStringLiteral("_"), QStringLiteral(":/i18n"))) {
        delete ours;
        return false;
    }
    app.installTranslator(ours);
    qCDebug(lcPivotrix) << "translation" << locale.uiLanguages();
    return true;
}
