#include "capture/FrameProcessorBase.h"

#include <QDebug>

FrameProcessorBase::~FrameProcessorBase()
{
    qDebug() << "deleted processor" << static_cast<const void*>(this);
}
