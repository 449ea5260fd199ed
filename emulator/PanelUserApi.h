#pragma once

#include "emulator/PanelProtocol.h"

#include <QColor>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <mutex>

class EmulatedPanel;

// The pairing user API: the panel lights one of six colours, the user names it, and the solved
// challenge is exchanged for the key the panel requires from then on.
class PanelUserApi : public PanelProtocol
{
public:
    static const QStringList& colorOptions();

    PanelUserApi(EmulatedPanel* panel, bool supported, int durationS, int colorIndex);

    void registerRoutes(httplib::Server& server) override;
    void addStatus(QJsonObject& status) const override;
    QColor shownColor() const override;

private:
    QJsonObject start(int* status);
    QJsonObject resolve(const QString& uuid, const QByteArray& body, int* status);
    QJsonObject exchange(const QByteArray& body, int* status);
    QJsonObject cancel(const QString& uuid, int* status);
    QJsonObject challengeLocked() const;
    // An unanswered challenge expires after its duration.
    void expireLocked() const;

    EmulatedPanel* m_panel;
    const bool m_supported;
    const int m_durationS;
    const int m_colorIndex;

    mutable std::mutex m_lock;
    QString m_uuid;
    QDateTime m_date;
    QDateTime m_expiresAt;
    mutable QString m_state;
    int m_litIndex = -1;
};
