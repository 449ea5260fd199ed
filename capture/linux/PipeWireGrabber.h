#pragma once

#include "capture/ScreenGrabberImp.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <memory>

class PortalScreenCast;
struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct PipeWireStream;
struct RegistryWatch;
struct spa_hook;

// Wayland capture back end: the desktop's screen-cast portal grants one PipeWire stream per monitor; the
// newest buffer of each stream is reduced to 1/16 per side at the grab that its arrival calls for. The
// PipeWire loop runs on a thread of its own; buffers are handed over under its lock and never copied whole.
// The portal session is held only while a processor uses a screen.
class PipeWireGrabber : public ScreenGrabberImp
{
public:
    static constexpr qint64 DefaultFirstFrameMs = 3000;

    PipeWireGrabber();
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
    // The portal's token for the user's choice of monitors, kept between runs so that they choose once.
    void setRestoreToken(const QString& token) override { m_restoreToken = token; }
    QString restoreToken() const override { return m_restoreToken; }

    bool setArrivalHandler(std::function<void()> handler) override;

    // How long after the streams start the first picture may take before they count as giving none.
    void setFirstFrameTimeout(qint64 ms) { m_firstFrameMs = ms; }

    // The last reason the portal gave no monitors; empty while it works.
    QString failure() const { return m_loggedFailure; }

private:
    // Logs why the portal gave no monitors, once per distinct reason.
    void noteFailure();
    bool portalOpen() const;
    bool startPipeWire(int fd);
    void stopPipeWire();
    bool reduce(PipeWireStream* stream, ScreenFrame* frame);
    // The streams gave no picture: says what they offered and retries on the same session.
    void noPicture();

    std::unique_ptr<PortalScreenCast> m_portal;
    QString m_restoreToken;
    // The granted session fed the current streams; a rebuild asks the portal again.
    bool m_sessionUsed = false;
    // The streams agreed on nothing we can read: the rebuild keeps the session instead of asking again.
    bool m_keepSession = false;
    // The user refused in the desktop's dialog, or stopped sharing there: not asked again until a mirror is
    // asked for anew.
    bool m_userRefused = false;
    bool m_askNow = false;
    QString m_loggedFailure;
    QElapsedTimer m_sinceStart;
    qint64 m_firstFrameMs = DefaultFirstFrameMs;
    bool m_gotFrame = false;

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    std::unique_ptr<spa_hook> m_coreListener;
    std::unique_ptr<RegistryWatch> m_registry;
    QList<PipeWireStream*> m_streams;
    // Set from the PipeWire thread or by the portal closing the session; read by the next grab.
    std::atomic<bool> m_broken{false};
    // Called on the PipeWire thread when a buffer arrives, unless a call is already on its way (the flag,
    // cleared by the grab under the loop's lock).
    std::function<void()> m_arrived;
    std::atomic<bool> m_arrivalPosted{false};
};
