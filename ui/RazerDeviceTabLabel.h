#pragma once

#include <QWidget>

class QLabel;

// Device tab label: the device name with a round marker that turns green on the active tab.
class RazerDeviceTabLabel : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive WRITE setActive NOTIFY activeChanged)
public:
    explicit RazerDeviceTabLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    bool isActive() const { return m_active; }
    void setActive(bool active);

    QLabel* markerLabel() const { return m_marker; }
    QLabel* textLabel() const { return m_label; }

signals:
    void activeChanged();

private:
    QLabel* m_marker = nullptr;
    QLabel* m_label = nullptr;
    bool m_active = true;
};
