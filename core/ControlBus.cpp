#include "core/ControlBus.h"

#include <QDBusMetaType>

void ControlBus::registerTypes()
{
    qDBusRegisterMetaType<DeviceStates>();
}
