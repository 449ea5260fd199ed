#pragma once

#include "capture/ScreenGrabberImp.h"

#include <QByteArray>
#include <QRect>
#include <QVector>

#include <cstdint>

struct xcb_connection_t;

// X11 capture back end: reads each monitor's part of the root window (MIT-SHM, or plain GetImage when the
// server lacks it) and reduces it to 1/16 per side. DAMAGE tells which blocks changed since the last grab.
class XcbGrabber : public ScreenGrabberImp
{
public:
    // An empty display name means $DISPLAY.
    explicit XcbGrabber(const QByteArray& displayName = QByteArray());
    ~XcbGrabber() override;

    bool grabFrames() override;
    bool needsReinit() override;
    QList<ScreenInfo> identifyScreens() override;
    void initScreens(const QList<ScreenInfo>& screens) override;
    void deinitScreens() override;

    bool usesShm() const { return m_shmSeg != 0; }
    bool usesDamage() const { return m_damage != 0; }

private:
    bool connectDisplay();
    void disconnectDisplay();
    bool connectionBroken();
    QList<ScreenInfo> queryMonitors();
    bool setupShm(qint64 bytes);
    void releaseShm();
    void setupDamage();
    // Drains pending events; false when the monitor layout changed.
    bool readEvents(bool* damaged);
    // Damaged root rectangles since the last call; empty when DAMAGE is unavailable.
    QVector<QRect> takeDamage();
    bool grabBlocks(ScreenFrame* frame, const QRect& blocks);
    bool grabBand(ScreenFrame* frame, const QRect& blocks);
    void markLost(const char* why);

    QByteArray m_displayName;
    // The server is away: its absence is logged once, not at every try to connect again.
    bool m_displayLost = false;
    xcb_connection_t* m_conn = nullptr;
    uint32_t m_root = 0;
    QRect m_rootRect;

    uint32_t m_shmSeg = 0;
    int m_shmId = -1;
    uchar* m_shmAddr = nullptr;
    qint64 m_shmSize = 0;

    uint32_t m_damage = 0;
    uint32_t m_damageRegion = 0;
    uint8_t m_damageEventBase = 0;
    uint8_t m_randrEventBase = 0;
    bool m_randrEvents = false;

    bool m_fullGrabPending = true;
};
