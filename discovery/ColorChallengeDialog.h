#pragma once

#include "discovery/PairingChallenge.h"

#include <QDialog>
#include <QList>
#include <QString>

class QGridLayout;
class QLabel;
class QMovie;
class QNetworkReply;
class QPushButton;
class QTimer;
class RoundRectWidget;

enum class PairingStage
{
    None = 0,
    Requesting = 1,
    ChoosingColor = 2,
    Failed = 3,
    TimedOut = 4,
    NotSupported = 5
};

// Obtains a panel's API key by a colour challenge: the panel lights a colour, the user clicks the
// matching swatch, and the solved challenge is exchanged for the key.
class ColorChallengeDialog : public QDialog
{
    Q_OBJECT
public:
    // Replies beyond this are cut off: the panel is not trusted.
    static constexpr qint64 kMaxReplyBytes = 64 * 1024;

    explicit ColorChallengeDialog(QWidget* parent = nullptr);
    ~ColorChallengeDialog() override;

    void setBaseUrl(const QString& url);

    PairingStage stage() const { return m_stage; }
    const PairingChallenge& challenge() const { return m_challenge; }
    QList<RoundRectWidget*> swatches() const { return m_swatches; }

signals:
    void keyAvailable(QString key);

public slots:
    void requestChallenge();
    void resolveTimeout();
    void tickSecond();
    void on_retryButton_clicked();
    void colorPressed(Qt::MouseButton button);
    void reject() override;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setupForm();
    void enterStage(PairingStage stage);
    void applyChallenge(const PairingChallenge& challenge);
    void setSwatchColors(const QList<QColor>& colors);
    // `attempt` is the challenge the request was made for; a reply for an earlier one changes nothing.
    void onStartFinished(QNetworkReply* reply, int attempt);
    void onResolveFinished(QNetworkReply* reply, const QString& uuid, int attempt);
    void onExchangeFinished(QNetworkReply* reply, int attempt);
    void abortOutstanding();
    // Tracked: the dialog aborts what is still outstanding when it goes.
    QNetworkReply* send(const QByteArray& verb, const QString& path, const QByteArray& body);
    QNetworkReply* startRequest(const QByteArray& verb, const QString& path, const QByteArray& body);
    // Status 0 for transport errors and cut-off replies.
    int finishReply(QNetworkReply* reply, const char* what, QByteArray* body);
    QString challengePath() const;

    PairingChallenge m_challenge;
    PairingStage m_stage = PairingStage::None;
    QTimer* m_resolveTimer = nullptr;
    QTimer* m_tickTimer = nullptr;
    QMovie* m_waitMovie = nullptr;
    QString m_baseUrl;
    // Set while a Resolve or Exchange is outstanding: further clicks are ignored.
    bool m_resolving = false;
    // Counts the challenges asked for; Retry starts the next.
    int m_attempt = 0;
    bool m_keyEmitted = false;
    // After accept or reject late replies change nothing.
    bool m_closed = false;
    QList<QNetworkReply*> m_replies;

    QLabel* m_titleLabel = nullptr;
    QGridLayout* m_colorSelectLayout = nullptr;
    QList<RoundRectWidget*> m_swatches;
    QLabel* m_waitAnimation = nullptr;
    QLabel* m_timerLabel = nullptr;
    QLabel* m_retryLabel = nullptr;
    QPushButton* m_retryButton = nullptr;
};
