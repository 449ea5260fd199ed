#include "capture/FrameProcessorBase.h"

#include "core/DiagnosticLog.h"

#include <QDebug>

FrameProcessorBase::~FrameProcessorBase()
{
    qCDebug(lcPivotrix) << "deleted processor" << static_cast<const void*>(this);
}
