#pragma once

#include <QWidget>

// What the "Screen Mirror" tab shows while no paired device is online.
class ScreenMirrorPreview : public QWidget
{
    Q_OBJECT
public:
    explicit ScreenMirrorPreview(QWidget* parent = nullptr);
};
