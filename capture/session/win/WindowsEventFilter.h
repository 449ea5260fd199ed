#pragma once

#include "capture/session/SystemSession.h"

// Session-change and power-broadcast window messages of the first top-level window.
class WindowsEventFilter : public SystemSession
{
    Q_OBJECT
public:
    explicit WindowsEventFilter(QObject* parent = nullptr);

    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;
};
