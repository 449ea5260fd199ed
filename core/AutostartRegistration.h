#pragma once

#include <QString>

#include <memory>

// The platform's run-at-logon entry for this application (XDG autostart file, Windows Run key).
class AutostartRegistration
{
public:
    virtual ~AutostartRegistration() = default;

    // Registers `executable` to start at logon with " --minimized".
    virtual bool enable(const QString& executable) = 0;
    virtual bool disable() = 0;
    virtual bool isEnabled() const = 0;

    // The back end for the platform this build targets.
    static std::unique_ptr<AutostartRegistration> create();
};
