#pragma once

#include <QImage>
#include <QWidget>

class EmulatedPanel;
class QTimer;

// Shows what one emulated panel received: its last good frame, large, refreshed at the frame rate.
class EmulatorWindow : public QWidget
{
    Q_OBJECT
public:
    // Windows of later slots cascade from the first, each kept on the screen.
    explicit EmulatorWindow(EmulatedPanel* panel, int slot = 0, QWidget* parent = nullptr);

    QImage shownFrame() const { return m_frame; }
    QColor shownColor() const { return m_shownColor; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    EmulatedPanel* m_panel;
    QTimer* m_timer;
    QImage m_frame;
    QColor m_shownColor;
    QString m_caption;
};
