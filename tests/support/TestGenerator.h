#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QSize>

#include <atomic>

// A minimal effect generator: paints a moving gradient of the canvas size on every update.
class TestGenerator : public QObject
{
    Q_OBJECT
public:
    std::atomic<int> updates{0};
    std::atomic<int> resizes{0};
    std::atomic<int> lastWidth{-1};
    std::atomic<int> lastHeight{-1};

signals:
    void canvasUpdated(QImage img);

public slots:
    void resize(QSize size);
    void update();

private:
    QSize m_size;
    int m_phase = 0;
};
