#pragma once

#include "capture/ScreenGrabberImp.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class PortalScreenCast;
struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct PipeWireStream;
struct spa_hook;

// Wayland capture back end: the desktop's screen-cast portal grants one PipeWire stream per monitor; the
// newest buffer of each stream is reduced to 1/16 per side at the next grab. The PipeWire loop runs on a
// thread of its own; buffers are handed over under its lock and never copied whole.
class PipeWireGrabber : public ScreenGrabberImp
{
public:
    // Where the portal's restore token is kept between runs, so the user chooses the monitors once.
    using TokenLoad = std::function<QString()>;
    using TokenSave = std::function<void(const QString&)>;

    explicit PipeWireGrabber(TokenLoad loadToken = {}, TokenSave saveToken = {});
    ~PipeWireGrabber() override;

    bool grabFrames() override;
    bool needsReinit() override;
    // Starts the portal handshake when there is no granted session yet; the monitors follow at the
    // rebuild that its answer brings.
    QList<ScreenInfo> identifyScreens() override;
    void initScreens(const QList<ScreenInfo>& screens) override;
    void deinitScreens() override;
    // The first panel to mirror, or the first after the user refused, has the portal asked at once.
    void setUsedScreens(const QList<int>& screens) override;

    // The last reason the portal gave no monitors; empty while it works.
    QString failure() const { return m_loggedFailure; }

private:
    // Logs why the portal gave no monitors, once per distinct reason.
    void noteFailure();
    bool startPipeWire(int fd);
    void stopPipeWire();
    bool reduce(PipeWireStream* stream, ScreenFrame* frame);

    TokenLoad m_loadToken;
    TokenSave m_saveToken;
    std::unique_ptr<PortalScreenCast> m_portal;
    // The granted session fed the current streams; a rebuild asks the portal again.
    bool m_sessionUsed = false;
    // The user refused in the desktop's dialog: not asked again until a mirror is asked for anew.
    bool m_userRefused = false;
    bool m_askNow = false;
    QString m_loggedFailure;
    QString m_savedToken;

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    std::unique_ptr<spa_hook> m_coreListener;
    QList<PipeWireStream*> m_streams;
    // Set from the PipeWire thread or by the portal closing the session; read by the next grab.
    std::atomic<bool> m_broken{false};
};
