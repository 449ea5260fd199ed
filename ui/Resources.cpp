#include "ui/Resources.h"

#include <QtGlobal>

void ensureResourcesLoaded()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(res);
        return true;
    }();
    Q_UNUSED(loaded)
}
