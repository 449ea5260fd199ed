#include "ui/UpdateOsCode.h"

QString updateOsCode()
{
    return QStringLiteral("linux_x64");
}
