// The windows in the language of the process's locale: run once under a German and once under the C locale
// (see CMakeLists.txt), each run expects its own texts and none of the other language's.
#include "core/ResourceManager.h"
#include "core/Translations.h"
#include "support/TestRegistry.h"
#include "ui/MainWindow.h"
#include "ui/UpdateChecker.h"

#include <QtTest>
#include <QtWidgets>

namespace {
QSet<QString> shownTexts(const QWidget& root)
{
    QSet<QString> texts;
    for (const QAbstractButton* b : root.findChildren<QAbstractButton*>())
        texts << b->text();
    for (const QLabel* l : root.findChildren<QLabel*>())
        texts << l->text();
    for (const QTabWidget* t : root.findChildren<QTabWidget*>())
        for (int i = 0; i < t->count(); ++i)
            texts << t->tabText(i);
    for (const QAction* a : root.findChildren<QAction*>())
        texts << a->text();
    return texts;
}
} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT
    TestRegistry m_registry;
    QSet<QString> m_texts;
    bool m_german = false;

private slots:
    void initTestCase()
    {
        m_german = QLocale().language() == QLocale::German;
        QCOMPARE(Translations::install(*qApp), m_german);
        m_registry.load();
        UpdateChecker::instance()->setServiceUrl(QUrl(QStringLiteral("http://127.0.0.1:1/")));
        MainWindow window;
        m_texts = shownTexts(window);
    }

    void windowSpeaksTheLocale_data()
    {
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("german");
        const auto row = [](const char* english, const char* german) {
            QTest::newRow(english) << QString::fromUtf8(english) << QString::fromUtf8(german);
        };
        row("Screen Mirror", "Bildschirmspiegel");
        row("Pivotrix Devices", "Pivotrix-Geräte");
        row("Launch On Startup", "Bei der Anmeldung starten");
        row("Check For Update", "Nach Updates suchen");
        row("Exit", "Beenden");
        row("Scan for devices", "Nach Geräten suchen");
        row("Pair your Pivotrix Device to enjoy", "Koppeln Sie Ihr Pivotrix-Gerät, um es zu genießen");
    }

    void windowSpeaksTheLocale()
    {
        QFETCH(QString, english);
        QFETCH(QString, german);
        QVERIFY2(m_texts.contains(m_german ? german : english), qPrintable(m_texts.values().join(u'|')));
        QVERIFY(!m_texts.contains(m_german ? english : german));
    }

    void cleanupTestCase() { ResourceManager::destroyInstance(); }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
