#pragma once

#include <QColor>
#include <QWidget>

// Rounded colour swatch; fillColor is a property so that it can be animated by name.
class RoundRectWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)
public:
    explicit RoundRectWidget(QWidget* parent = nullptr);

    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor& color);
    int radius() const { return m_radius; }
    void setRadius(int radius);

signals:
    void mouseClick(Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_radius = 6;
    QColor m_fillColor = Qt::gray;
};
