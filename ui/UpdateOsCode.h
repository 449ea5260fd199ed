#pragma once

#include <QString>

// The update service's name for the platform this build runs on; each platform's source defines it.
QString updateOsCode();
