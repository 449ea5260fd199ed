#include "ui/RazerDevicePage.h"

#include "core/DiagnosticLog.h"
#include "ui/RoundRectWidget.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {
const QString kPageStyle =
    QStringLiteral("QWidget#RazerDevicePage{\n\tbackground-color:white;\n\tborder:1px solid "
                   "#dadada;\n\tborder-top-right-radius:11px;\n\tborder-bottom-right-"
                   "radius:11px;\n\tborder-bottom-left-radius:11px;\n}");
const QString kTickStyle =
    QStringLiteral("QCheckBox::indicator{\n\twidth:30px;\n\theight:30px;\n}\n"
                   "QCheckBox::indicator:checked{\n\timage: url(:images/checked.png);\n}");
const QString kToggleStyle =
    QStringLiteral("QCheckBox::indicator:checked{\n\timage: url(:images/toggle_on.png);\n}\n"
                   "QCheckBox::indicator:unchecked{\n\timage: "
                   "url(:images/toggle_off.png);\n}");
// The tabs' plain background rules paint over the highlight of a combo box's list, and the platform's
// highlighted text (white) would then be unreadable on it.
const QString kListStyle = QStringLiteral("selection-color:black;");
} // namespace

RazerDevicePage::RazerDevicePage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("RazerDevicePage"));
    setStyleSheet(kPageStyle);

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    layout->setAlignment(Qt::AlignCenter);
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    auto* grid = new QGridLayout(frame);
    grid->setObjectName(QStringLiteral("gridLayout"));

    const QStringList labelNames{QStringLiteral("masterLabel"), QStringLiteral("pixel1Label"),
                                 QStringLiteral("pixel2Label"), QStringLiteral("pixel3Label"),
                                 QStringLiteral("pixel5Label")};
    const QStringList labelTexts{tr("Master Pixel"), tr("Pixel 1"), tr("Pixel 2"), tr("Pixel 3"),
                                 tr("Pixel 4")};
    for (int row = 0; row < labelNames.size(); ++row) {
        auto* label = new QLabel(labelTexts.at(row), frame);
        label->setObjectName(labelNames.at(row));
        auto* swatch = new RoundRectWidget(frame);
        swatch->setObjectName(QStringLiteral("color%1").arg(row));
        swatch->setMinimumSize(124, 30);
        auto* tick = new QCheckBox(frame);
        tick->setObjectName(QStringLiteral("colorCheck%1").arg(row));
        tick->setStyleSheet(kTickStyle);
        // The tick has no text of its own; a screen reader names it after its row.
        tick->setAccessibleName(labelTexts.at(row));
        grid->addWidget(label, row, 0);
        grid->addWidget(swatch, row, 1);
        grid->addWidget(tick, row, 2);
        connect(tick, &QCheckBox::stateChanged, this, [this](int state) {
            reviewColorHint();
            onColorEnabledChanged(state != 0);
        });
        m_rows.append(qMakePair(tick, swatch));
    }

    auto* directionLabel = new QLabel(tr("Direction"), frame);
    directionLabel->setObjectName(QStringLiteral("label"));
    m_direction = new QComboBox(frame);
    m_direction->setObjectName(QStringLiteral("comboBox"));
    m_direction->setPlaceholderText(tr("No Effect"));
    grid->addWidget(directionLabel, 5, 0);
    grid->addWidget(m_direction, 5, 1);

    auto* effectLabel = new QLabel(tr("Effect"), frame);
    effectLabel->setObjectName(QStringLiteral("label_2"));
    m_seasoning = new QComboBox(frame);
    m_seasoning->setObjectName(QStringLiteral("seasoningSelect"));
    for (int value : qAsConst(m_effectValues))
        m_seasoning->addItem(effectName(value));
    grid->addWidget(effectLabel, 6, 0);
    grid->addWidget(m_seasoning, 6, 1);
    layout->addWidget(frame);

    auto* toggleRow = new QHBoxLayout();
    toggleRow->setObjectName(QStringLiteral("horizontalLayout"));
    toggleRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_streamToggle = new QCheckBox(tr("Visualize"), this);
    m_streamToggle->setObjectName(QStringLiteral("streamToggle"));
    m_streamToggle->setStyleSheet(kToggleStyle);
    toggleRow->addWidget(m_streamToggle);
    // Without a ticked colour the panel gets no frames; say so where the user switched it on.
    m_colorHint = new QLabel(tr("Tick at least one colour to light up the panel"), this);
    m_colorHint->setObjectName(QStringLiteral("colorHintLabel"));
    m_colorHint->setStyleSheet(QStringLiteral("color:#848484;background:transparent;"));
    m_colorHint->hide();
    toggleRow->addWidget(m_colorHint);
    toggleRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    layout->addLayout(toggleRow);

    for (QComboBox* combo : {m_direction, m_seasoning})
        combo->view()->setStyleSheet(kListStyle);

    connect(m_streamToggle, &QCheckBox::stateChanged, this, &RazerDevicePage::onStreamToggleChange);
    connect(m_direction, SIGNAL(currentIndexChanged(int)), this, SLOT(onGradientAngleIdxChanged(int)));
    connect(m_seasoning, SIGNAL(currentIndexChanged(int)), this, SLOT(onSeasoningChanged(int)));
}

void RazerDevicePage::showColors(const QList<QColor>& colors)
{
    for (int i = 0; i < m_rows.size() && i < colors.size(); ++i)
        m_rows.at(i).second->setFillColor(colors.at(i));
}

QList<int> RazerDevicePage::selectedColorIndexes() const
{
    QList<int> indexes;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).first->isChecked())
            indexes << i;
    }
    return indexes;
}

void RazerDevicePage::setSelectedColorIndexes(const QList<int>& indexes)
{
    for (int index : indexes) {
        if (index < 0 || index >= m_rows.size())
            continue;
        QCheckBox* tick = m_rows.at(index).first;
        const QSignalBlocker blocker(tick);
        tick->setChecked(true);
    }
    reviewColorHint();
}

void RazerDevicePage::setDirectionItems(const QStringList& items)
{
    const QSignalBlocker blocker(m_direction);
    m_direction->addItems(items);
}

void RazerDevicePage::setDirectionIndex(int index)
{
    const QSignalBlocker blocker(m_direction);
    m_direction->setCurrentIndex(index);
}

void RazerDevicePage::setEffect(int value)
{
    const int index = m_effectValues.indexOf(value);
    if (index < 0)
        return;
    const QSignalBlocker blocker(m_seasoning);
    m_seasoning->setCurrentIndex(index);
}

void RazerDevicePage::setStreamEnabled(bool enabled)
{
    const QSignalBlocker blocker(m_streamToggle);
    m_streamToggle->setChecked(enabled);
    reviewColorHint();
}

void RazerDevicePage::reviewColorHint()
{
    m_colorHint->setVisible(m_streamToggle->isChecked() && selectedColorIndexes().isEmpty());
}

void RazerDevicePage::onStreamToggleChange(int state)
{
    reviewColorHint();
    if (state == Qt::Checked)
        emit streamToggleChanged(true);
    else if (state == Qt::Unchecked)
        emit streamToggleChanged(false);
}

void RazerDevicePage::onColorEnabledChanged(bool enabled)
{
    qCDebug(lcPivotrix) << "enabled changed" << enabled;
    emit colorSelectionChanged();
}

void RazerDevicePage::onGradientAngleIdxChanged(int idx)
{
    emit gradientDirectionChanged(idx);
}

void RazerDevicePage::onSeasoningChanged(int idx)
{
    if (idx < 0 || idx >= m_effectValues.size())
        return;
    emit seasoningChanged(EffectDeviceSeasoning(m_effectValues.at(idx)));
}
