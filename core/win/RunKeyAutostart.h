#pragma once

#include "core/AutostartRegistration.h"

// Value "PivotrixEntertainment" under the current user's Run key.
class RunKeyAutostart : public AutostartRegistration
{
public:
    bool enable(const QString& executable) override;
    bool disable() override;
    bool isEnabled() const override;
};
