// The tab label and the colour swatch shared by the device pages.
#include "ui/RazerDeviceTabLabel.h"
#include "ui/RoundRectWidget.h"

#include <QLabel>
#include <QPropertyAnimation>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(Qt::MouseButton)

class TestWidgets : public QObject
{
    Q_OBJECT
private slots:
    void tabLabelActive_data()
    {
        QTest::addColumn<QList<bool>>("sequence");
        QTest::addColumn<int>("changes");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QString>("text");
        const QString on = QStringLiteral("background: #00AF31;border-radius:4px;");
        const QString onText = QStringLiteral("font-weight:bold;color:black;background-color:transparent;");
        const QString off = QStringLiteral("background: transparent;border-radius:4px;");
        const QString offText =
            QStringLiteral("font-weight:normal;color:#5f5f5f;background-color:transparent;");
        const QString initial = QStringLiteral("background: transparent;\nborder-radius:4px;");
        const QString initialText = QStringLiteral("color:black;\nbackground-color:transparent;");
        QTest::newRow("already active") << QList<bool>{true} << 0 << initial << initialText;
        QTest::newRow("deactivate") << QList<bool>{false} << 1 << off << offText;
        QTest::newRow("off then on") << QList<bool>{false, true} << 2 << on << onText;
        QTest::newRow("reload pattern") << QList<bool>{false, false, true, true} << 2 << on << onText;
    }

    void tabLabelActive()
    {
        QFETCH(QList<bool>, sequence);
        QFETCH(int, changes);
        QFETCH(QString, marker);
        QFETCH(QString, text);
        RazerDeviceTabLabel label;
        QSignalSpy spy(&label, &RazerDeviceTabLabel::activeChanged);
        for (bool active : qAsConst(sequence))
            label.setProperty("active", active);
        QCOMPARE(spy.count(), changes);
        QCOMPARE(label.isActive(), sequence.last());
        QCOMPARE(label.markerLabel()->styleSheet(), marker);
        QCOMPARE(label.textLabel()->styleSheet(), text);
    }

    void swatchReportsTheReleasedButton_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
    }

    void swatchReportsTheReleasedButton()
    {
        QFETCH(Qt::MouseButton, button);
        RoundRectWidget swatch;
        swatch.resize(40, 40);
        QSignalSpy spy(&swatch, &RoundRectWidget::mouseClick);
        QTest::mouseRelease(&swatch, button, Qt::NoModifier, QPoint(20, 20));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().at(0).value<Qt::MouseButton>(), button);
    }

    void swatchPaintsItsColour()
    {
        RoundRectWidget swatch;
        swatch.resize(40, 30);
        QCOMPARE(swatch.fillColor(), QColor(Qt::gray));
        QCOMPARE(swatch.radius(), 6);
        swatch.setFillColor(QColor(10, 200, 30));
        QImage image = swatch.grab().toImage();
        QCOMPARE(image.pixelColor(20, 15), QColor(10, 200, 30));
        // The rounded corner leaves the very corner unpainted by the fill.
        QVERIFY(image.pixelColor(0, 0) != QColor(10, 200, 30));
    }

    void swatchColourAnimatesByName()
    {
        RoundRectWidget swatch;
        QPropertyAnimation animation(&swatch, "fillColor");
        animation.setDuration(50);
        animation.setStartValue(QColor(Qt::black));
        animation.setEndValue(QColor(Qt::white));
        animation.start();
        QTRY_COMPARE(animation.state(), QAbstractAnimation::Stopped);
        QCOMPARE(swatch.fillColor(), QColor(Qt::white));
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
