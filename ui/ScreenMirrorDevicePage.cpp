#include "ui/ScreenMirrorDevicePage.h"

#include "capture/GrabManager.h"
#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "ui/Resources.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {
const QString kPageStyle =
    QStringLiteral("QWidget#ScreenMirrorDevicePage{\n\tbackground-color:white;\n\tborder:1px solid "
                   "#dadada;\n\tborder-top-right-radius:11px;\n\tborder-bottom-right-radius:11px;\n\t"
                   "border-bottom-left-radius:11px;\n}");
const QString kFrameStyle =
    QStringLiteral("QFrame#frame{\n border: 1px solid #dadada;\nborder-left-width:0px;\n"
                   "border-right-width:0px;\nbackground-color:white;\n}");
const QString kComboStyle = QStringLiteral(
    "QComboBox{\n\tborder:1px solid #dedede;\n\tborder-radius:6px;\n\tbackground-color:white;\n"
    "\tcolor:black;\n\tpadding-left:6px;\n}\nQComboBox::drop-down{\n\tborder:0px;\n}\n"
    "QComboBox::down-arrow{\n\timage: url(:images/drop-down-combo.png);\n}\n"
    "QComboBox QAbstractItemView{\n\tbackground-color:white;\n\tcolor:black;\n}");
const QString kToggleStyle =
    QStringLiteral("QCheckBox::indicator:checked{\n\timage: url(:images/toggle_on.png);\n}\n"
                   "QCheckBox::indicator:unchecked{\n\timage: url(:images/toggle_off.png);\n}");

QLabel* rowLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setMaximumWidth(300);
    label->setText(text);
    return label;
}

QComboBox* rowCombo(QWidget* parent, const char* name, int maxItems)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setMaximumWidth(350);
    if (maxItems > 0)
        combo->setMaxCount(maxItems);
    combo->setStyleSheet(kComboStyle);
    return combo;
}

GrabManager* grabManager()
{
    return ResourceManager::instance()->grabManager();
}
} // namespace

ScreenMirrorDevicePage::ScreenMirrorDevicePage(QWidget* parent)
    : QWidget(parent)
{
    qRegisterMetaType<EffecType>("EffecType");
    qRegisterMetaType<EffectDeviceLocation>("EffectDeviceLocation");
    qRegisterMetaType<EffectDeviceSeasoning>("EffectDeviceSeasoning");
    qRegisterMetaType<ColorMode>("ColorMode");

    setObjectName(QStringLiteral("ScreenMirrorDevicePage"));
    resize(750, 542);
    setWindowTitle(tr("Form"));
    setStyleSheet(kPageStyle);

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(50, 50, 50, 0);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setMinimumHeight(400);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Raised);
    frame->setStyleSheet(kFrameStyle);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setObjectName(QStringLiteral("verticalLayout_2"));
    frameLayout->setContentsMargins(frameLayout->contentsMargins().left(), 0,
                                    frameLayout->contentsMargins().right(), 0);
    auto* grid = new QGridLayout();
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->setContentsMargins(30, 17, 30, 17);

    grid->addWidget(rowLabel(frame, "label_3", QString()), 1, 0);
    auto* screenImage = new QLabel(frame);
    screenImage->setObjectName(QStringLiteral("screenImage"));
    screenImage->setPixmap(resourcePixmap(QStringLiteral(":/images/comp.png")));
    screenImage->setMinimumSize(192, 163);
    screenImage->setAlignment(Qt::AlignCenter);
    grid->addWidget(screenImage, 1, 1);
    grid->addItem(new QSpacerItem(100, 20, QSizePolicy::Expanding, QSizePolicy::Minimum), 1, 2);

    grid->addWidget(rowLabel(frame, "label_2", tr("Select Monitor")), 2, 0);
    m_monitor = rowCombo(frame, "monitorSelect", 200);
    m_monitor->setMinimumSize(98, 28);
    grid->addWidget(m_monitor, 2, 1);
    grid->addWidget(rowLabel(frame, "modeLabel", tr("Mode")), 3, 0);
    m_mode = rowCombo(frame, "modeSelector", 200);
    grid->addWidget(m_mode, 3, 1);
    grid->addWidget(rowLabel(frame, "label_5", tr("Colors")), 4, 0);
    m_colorMode = rowCombo(frame, "colorModeComboBox", 0);
    grid->addWidget(m_colorMode, 4, 1);
    grid->addWidget(rowLabel(frame, "label", tr("Effect")), 7, 0);
    m_seasoning = rowCombo(frame, "effectSelect", 0);
    grid->addWidget(m_seasoning, 7, 1);
    m_locationLabel = rowLabel(frame, "lacationLabel", tr("PRISM Location"));
    grid->addWidget(m_locationLabel, 8, 0);
    m_location = rowCombo(frame, "prismLocation", 200);
    grid->addWidget(m_location, 8, 1);
    auto* locationPad = rowLabel(frame, "label_4", QString());
    locationPad->setMinimumHeight(28);
    grid->addWidget(locationPad, 8, 2);
    frameLayout->addLayout(grid);
    layout->addWidget(frame);

    auto* toggleRow = new QHBoxLayout();
    toggleRow->setObjectName(QStringLiteral("horizontalLayout"));
    toggleRow->setContentsMargins(toggleRow->contentsMargins().left(), 20,
                                  toggleRow->contentsMargins().right(), 20);
    toggleRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_streamToggle = new QCheckBox(this);
    m_streamToggle->setObjectName(QStringLiteral("streamToggle"));
    m_streamToggle->setText(tr("Visualize"));
    m_streamToggle->setStyleSheet(kToggleStyle);
    toggleRow->addWidget(m_streamToggle);
    toggleRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    layout->addLayout(toggleRow);

    connect(m_streamToggle, &QCheckBox::toggled, this, &ScreenMirrorDevicePage::streamToggleChanged);
    if (GrabManager* grab = grabManager())
        connect(grab, &GrabManager::screensReinited, this, &ScreenMirrorDevicePage::screensReinited);
    screensReinited();

    connect(m_monitor, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ScreenMirrorDevicePage::onMonitorChanged);
    for (int mode : qAsConst(m_modes))
        m_mode->addItem(effectTypeName(mode));
    for (int location : qAsConst(m_locations))
        m_location->addItem(deviceLocationName(location));
    for (int seasoning : qAsConst(m_seasonings))
        m_seasoning->addItem(effectName(seasoning));
    for (int mode : qAsConst(m_colorModes))
        m_colorMode->addItem(colorModeName(mode));
    showLocationRow(m_modes.value(m_mode->currentIndex(), -1));
    connect(m_mode, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ScreenMirrorDevicePage::onModeChanged);
    connect(m_location, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ScreenMirrorDevicePage::onLocationChanged);
    connect(m_seasoning, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ScreenMirrorDevicePage::onSeasoningChanged);
    connect(m_colorMode, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ScreenMirrorDevicePage::onColorModeChanged);
}

void ScreenMirrorDevicePage::select(QComboBox* combo, const QList<int>& values, int value)
{
    const int index = values.indexOf(value);
    if (index < 0)
        return;
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index);
}

void ScreenMirrorDevicePage::setMonitor(int index)
{
    // Kept also while the list is shorter (or still empty, until the desktop's portal answers).
    m_storedMonitor = index;
    const QSignalBlocker blocker(m_monitor);
    // A monitor not in the list is shown as no choice rather than as another one.
    m_monitor->setCurrentIndex(index < m_monitor->count() ? index : -1);
}

void ScreenMirrorDevicePage::setMode(int mode)
{
    if (!m_modes.contains(mode))
        return;
    select(m_mode, m_modes, mode);
    showLocationRow(mode);
}

void ScreenMirrorDevicePage::setLocation(int location)
{
    select(m_location, m_locations, location);
}

void ScreenMirrorDevicePage::setSeasoning(int seasoning)
{
    select(m_seasoning, m_seasonings, seasoning);
}

void ScreenMirrorDevicePage::setColorMode(int mode)
{
    select(m_colorMode, m_colorModes, mode);
}

void ScreenMirrorDevicePage::setStreamEnabled(bool enabled)
{
    const QSignalBlocker blocker(m_streamToggle);
    m_streamToggle->setChecked(enabled);
}

void ScreenMirrorDevicePage::onMonitorChanged(int idx)
{
    qCDebug(lcPivotrix) << "screen index changed" << idx;
    if (idx >= 0)
        emit screenIdxChanged(idx);
}

void ScreenMirrorDevicePage::onModeChanged(int idx)
{
    if (idx < 0 || idx >= m_modes.size())
        return;
    const int value = m_modes.at(idx);
    showLocationRow(value);
    emit effectTypeChanged(EffecType(value));
}

void ScreenMirrorDevicePage::onLocationChanged(int idx)
{
    if (idx >= 0 && idx < m_locations.size())
        emit deviceLocationChanged(EffectDeviceLocation(m_locations.at(idx)));
}

void ScreenMirrorDevicePage::onSeasoningChanged(int idx)
{
    if (idx >= 0 && idx < m_seasonings.size())
        emit deviceSeasoningChanged(EffectDeviceSeasoning(m_seasonings.at(idx)));
}

void ScreenMirrorDevicePage::onColorModeChanged(int idx)
{
    if (idx >= 0 && idx < m_colorModes.size())
        emit colorModeChanged(ColorMode(m_colorModes.at(idx)));
}

void ScreenMirrorDevicePage::screensReinited()
{
    QStringList names;
    if (GrabManager* grab = grabManager()) {
        const QList<ScreenInfo> screens = grab->screens();
        for (const ScreenInfo& screen : screens)
            names << screen.name;
    }
    qCDebug(lcPivotrix) << "screens reinited" << names.size();
    if (names.isEmpty() || names.size() == m_monitor->count())
        return;
    // A refill is no choice of the user's: the stored monitor stays, shown again once the list holds it.
    const QSignalBlocker blocker(m_monitor);
    m_monitor->clear();
    m_monitor->insertItems(0, names);
    setMonitor(m_storedMonitor);
}

void ScreenMirrorDevicePage::showLocationRow(int mode)
{
    const bool visible = mode == ContinueScreen;
    m_location->setVisible(visible);
    m_locationLabel->setVisible(visible);
}
