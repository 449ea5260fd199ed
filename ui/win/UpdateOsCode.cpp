#include "ui/UpdateOsCode.h"

QString updateOsCode()
{
    return QStringLiteral("windows_x64");
}
