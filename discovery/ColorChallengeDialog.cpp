#include "discovery/ColorChallengeDialog.h"

#include "core/DiagnosticLog.h"
#include "device/SharedNetworkManager.h"
#include "ui/RoundRectWidget.h"

#include <QDebug>
#include <QGridLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char kTooLargeProperty[] = "pivotrixTooLarge";
constexpr int kLightenFactor = 170;
constexpr int kLoggedBodyBytes = 512;

const QString kRetryStyle =
    QStringLiteral("QPushButton {\n\tbackground-color:#1A6FBF ;\n\tborder-color:transparent;\n"
                   "\tborder-radius:6px;\n\tcolor:white;\n}\n\nQPushButton::pressed {\n"
                   "\tbackground-color:#2766a1;\n}");

QFont pointFont(const QFont& base, int points, bool bold = false)
{
    QFont font = base;
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}
} // namespace

ColorChallengeDialog::ColorChallengeDialog(QWidget* parent)
    : QDialog(parent)
{
    setupForm();
    m_waitMovie = new QMovie(QStringLiteral(":videos/loading.gif"), QByteArrayLiteral("gif"), this);
    m_waitMovie->setScaledSize(m_waitAnimation->maximumSize());
    m_waitAnimation->setMovie(m_waitMovie);

    m_resolveTimer = new QTimer(this);
    m_resolveTimer->setInterval(10000);
    m_resolveTimer->setSingleShot(true);
    connect(m_resolveTimer, &QTimer::timeout, this, &ColorChallengeDialog::resolveTimeout);
    m_tickTimer = new QTimer(this);
    m_tickTimer->setInterval(1000);
    connect(m_tickTimer, &QTimer::timeout, this, &ColorChallengeDialog::tickSecond);

    QList<QColor> placeholders;
    for (const char* name : {"#ff0000", "#00ff00", "#0000ff", "#ffff00", "#00d1ff", "#ff00e2"})
        placeholders << QColor(QLatin1String(name)).lighter(kLightenFactor);
    setSwatchColors(placeholders);
    m_waitAnimation->hide();
    m_timerLabel->hide();
    m_retryLabel->hide();
    m_retryButton->hide();
    enterStage(PairingStage::Requesting);
}

ColorChallengeDialog::~ColorChallengeDialog()
{
    // A reply may still be on its way (a panel that never answers holds one for 20 s).
    abortOutstanding();
}

void ColorChallengeDialog::setupForm()
{
    setObjectName(QStringLiteral("ColorChallengeDialog"));
    setWindowTitle(tr("Pairing"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    resize(300, 300);
    setMaximumHeight(341);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 18, 30, 18);

    m_titleLabel = new QLabel(tr("Look at your PRISM\n and select color it displays"), this);
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_titleLabel->setMinimumHeight(40);
    m_titleLabel->setFont(pointFont(font(), 11, true));
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setWordWrap(true);
    m_titleLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(m_titleLabel);

    m_colorSelectLayout = new QGridLayout();
    m_colorSelectLayout->setObjectName(QStringLiteral("colorSelectLayout"));
    m_colorSelectLayout->setSpacing(14);
    m_colorSelectLayout->setContentsMargins(35, 18, 35, 20);
    layout->addLayout(m_colorSelectLayout);

    m_waitAnimation = new QLabel(this);
    m_waitAnimation->setObjectName(QStringLiteral("waitAnimation"));
    m_waitAnimation->setFixedSize(34, 34);
    m_waitAnimation->setAlignment(Qt::AlignCenter);
    m_waitAnimation->setStyleSheet(QStringLiteral("background-color:transparent;"));
    layout->addWidget(m_waitAnimation, 0, Qt::AlignHCenter);

    m_timerLabel = new QLabel(QStringLiteral("60"), this);
    m_timerLabel->setObjectName(QStringLiteral("timerLabel"));
    m_timerLabel->setFont(pointFont(font(), 11));
    m_timerLabel->setStyleSheet(QStringLiteral("color:#7c7c7c;"));
    m_timerLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_timerLabel);

    m_retryLabel = new QLabel(tr("Please, try again"), this);
    m_retryLabel->setObjectName(QStringLiteral("retryLabel"));
    m_retryLabel->setFont(pointFont(font(), 8));
    m_retryLabel->setStyleSheet(QStringLiteral("color:#7c7c7c;"));
    m_retryLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_retryLabel);

    m_retryButton = new QPushButton(tr("Retry"), this);
    m_retryButton->setObjectName(QStringLiteral("retryButton"));
    m_retryButton->setFixedSize(90, 30);
    m_retryButton->setStyleSheet(kRetryStyle);
    connect(m_retryButton, &QPushButton::clicked, this, &ColorChallengeDialog::on_retryButton_clicked);
    layout->addWidget(m_retryButton, 0, Qt::AlignHCenter);

    layout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
}

void ColorChallengeDialog::setBaseUrl(const QString& url)
{
    m_baseUrl = url;
    requestChallenge();
}

QNetworkReply* ColorChallengeDialog::startRequest(const QByteArray& verb, const QString& path,
                                                  const QByteArray& body)
{
    QNetworkRequest request(QUrl(m_baseUrl + path));
    QNetworkReply* reply = sharedNetworkManager()->sendCustomRequest(request, verb, body);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if ((received > kMaxReplyBytes || total > kMaxReplyBytes) &&
            !reply->property(kTooLargeProperty).toBool()) {
            reply->setProperty(kTooLargeProperty, true);
            reply->abort();
        }
    });
    return reply;
}

QNetworkReply* ColorChallengeDialog::send(const QByteArray& verb, const QString& path, const QByteArray& body)
{
    QNetworkReply* reply = startRequest(verb, path, body);
    m_replies.append(reply);
    return reply;
}

int ColorChallengeDialog::finishReply(QNetworkReply* reply, const char* what, QByteArray* body)
{
    m_replies.removeOne(reply);
    reply->deleteLater();
    const bool tooLarge = reply->property(kTooLargeProperty).toBool();
    const int status = tooLarge ? 0 : reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    qCDebug(lcPivotrix) << what << status << reply->error()
                        << (tooLarge ? QStringLiteral("reply too large") : reply->errorString());
    if (body)
        *body = tooLarge ? QByteArray() : reply->readAll();
    return status;
}

QString ColorChallengeDialog::challengePath() const
{
    // The identifier comes from the panel: it must not reach into other paths.
    return QStringLiteral("/api/v2/user/challenge/") +
           QString::fromLatin1(QUrl::toPercentEncoding(m_challenge.uuid));
}

void ColorChallengeDialog::requestChallenge()
{
    qCDebug(lcPivotrix) << "start challenge req";
    QNetworkReply* reply =
        send(QByteArrayLiteral("POST"), QStringLiteral("/api/v2/user/?type=pick_color"), QByteArray());
    const int attempt = m_attempt;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, attempt] { onStartFinished(reply, attempt); });
}

void ColorChallengeDialog::abortOutstanding()
{
    const QList<QNetworkReply*> replies = m_replies;
    m_replies.clear();
    for (QNetworkReply* reply : replies) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void ColorChallengeDialog::onStartFinished(QNetworkReply* reply, int attempt)
{
    QByteArray body;
    const int status = finishReply(reply, "start challenge req finished", &body);
    if (m_closed || attempt != m_attempt)
        return;
    if (status == 401) {
        enterStage(PairingStage::NotSupported);
        return;
    }
    if (status != 200) {
        enterStage(PairingStage::Failed);
        return;
    }
    applyChallenge(PairingChallenge::fromReply(body));
}

void ColorChallengeDialog::applyChallenge(const PairingChallenge& challenge)
{
    if (challenge.sameAs(m_challenge))
        return;
    m_challenge = challenge;
    switch (challenge.state) {
    case ChallengeState::NotStarted:
        enterStage(PairingStage::Requesting);
        break;
    case ChallengeState::InProgress:
        setSwatchColors(challenge.colors);
        enterStage(PairingStage::ChoosingColor);
        break;
    case ChallengeState::Expired:
        enterStage(PairingStage::TimedOut);
        break;
    case ChallengeState::Other:
    case ChallengeState::Canceled:
        enterStage(PairingStage::Failed);
        break;
    case ChallengeState::Resolved:
        break;
    }
}

void ColorChallengeDialog::setSwatchColors(const QList<QColor>& colors)
{
    for (int i = 0; i < colors.size(); ++i) {
        if (i >= m_swatches.size()) {
            auto* swatch = new RoundRectWidget(this);
            swatch->setRadius(10);
            swatch->setFixedSize(50, 50);
            swatch->setAutoFillBackground(true);
            connect(swatch, &RoundRectWidget::mouseClick, this, &ColorChallengeDialog::colorPressed);
            m_colorSelectLayout->addWidget(swatch, i / 3, i % 3);
            m_swatches.append(swatch);
        }
        RoundRectWidget* swatch = m_swatches.at(i);
        // A fade still running would fight the new one.
        for (QPropertyAnimation* running :
             swatch->findChildren<QPropertyAnimation*>(QString(), Qt::FindDirectChildrenOnly))
            delete running;
        auto* fade = new QPropertyAnimation(swatch, QByteArrayLiteral("fillColor"), swatch);
        fade->setDuration(300);
        fade->setStartValue(swatch->fillColor());
        fade->setEndValue(colors.at(i));
        fade->start(QAbstractAnimation::DeleteWhenStopped);
        swatch->update();
    }
}

void ColorChallengeDialog::enterStage(PairingStage stage)
{
    if (stage == m_stage)
        return;
    m_stage = stage;
    switch (stage) {
    case PairingStage::None:
        break;
    case PairingStage::Requesting:
        m_titleLabel->clear();
        m_waitAnimation->show();
        m_waitMovie->start();
        m_timerLabel->hide();
        m_retryLabel->hide();
        m_retryButton->hide();
        m_resolveTimer->stop();
        m_tickTimer->stop();
        break;
    case PairingStage::ChoosingColor:
        m_retryLabel->hide();
        m_retryButton->hide();
        m_titleLabel->setText(tr("Look at your PRISM\n and select the color it displays"));
        m_waitAnimation->show();
        m_waitMovie->start();
        tickSecond();
        if (m_stage != PairingStage::ChoosingColor)
            return;
        m_timerLabel->show();
        m_resolveTimer->start(m_challenge.duration * 1000);
        m_tickTimer->start();
        break;
    case PairingStage::Failed:
    case PairingStage::TimedOut:
    case PairingStage::NotSupported: {
        const bool notSupported = stage == PairingStage::NotSupported;
        m_titleLabel->setText(stage == PairingStage::Failed     ? tr("Failed")
                              : stage == PairingStage::TimedOut ? tr("Timeout")
                                                                : tr("Not Supported"));
        m_waitAnimation->hide();
        m_waitMovie->stop();
        m_timerLabel->hide();
        m_retryLabel->setText(notSupported ? tr("Streaming feature unavailable on this device")
                                           : tr("Please, try again"));
        m_retryLabel->show();
        m_retryButton->setText(notSupported ? tr("OK") : tr("Retry"));
        m_retryButton->show();
        m_challenge = PairingChallenge();
        m_resolveTimer->stop();
        m_tickTimer->stop();
        break;
    }
    }
}

void ColorChallengeDialog::tickSecond()
{
    const qint64 remaining =
        m_challenge.duration - m_challenge.receivedAt.secsTo(QDateTime::currentDateTime());
    if (remaining > 0)
        m_timerLabel->setText(QString::number(remaining));
    else
        enterStage(PairingStage::TimedOut);
}

void ColorChallengeDialog::resolveTimeout()
{
    if (m_stage == PairingStage::ChoosingColor)
        enterStage(PairingStage::TimedOut);
}

void ColorChallengeDialog::colorPressed(Qt::MouseButton button)
{
    // One answer per challenge: a double click must not resolve and exchange twice.
    if (m_resolving || m_closed)
        return;
    if (m_challenge.state != ChallengeState::InProgress || button != Qt::LeftButton ||
        m_challenge.uuid.isEmpty())
        return;
    int chosen = -1;
    for (int i = 0; i < m_challenge.colors.size() && i < m_swatches.size(); ++i) {
        if (m_swatches.at(i) == sender())
            chosen = i;
    }
    if (chosen < 0 || chosen >= m_challenge.colorNames.size())
        return;
    QList<QColor> faded;
    for (int i = 0; i < m_challenge.colors.size(); ++i)
        faded << (i == chosen ? m_challenge.colors.at(i) : m_challenge.colors.at(i).lighter(kLightenFactor));
    setSwatchColors(faded);

    qCDebug(lcPivotrix) << "resolve challenge req";
    m_resolving = true;
    const QString uuid = m_challenge.uuid;
    const int attempt = m_attempt;
    const QJsonObject body{{QStringLiteral("color"), m_challenge.colorNames.at(chosen)}};
    QNetworkReply* reply =
        send(QByteArrayLiteral("PUT"), challengePath(), QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, uuid, attempt] { onResolveFinished(reply, uuid, attempt); });
}

void ColorChallengeDialog::onResolveFinished(QNetworkReply* reply, const QString& uuid, int attempt)
{
    const int status = finishReply(reply, "resolve challenge finished", nullptr);
    if (m_closed || attempt != m_attempt)
        return;
    if (status != 200) {
        m_resolving = false;
        enterStage(PairingStage::Failed);
        return;
    }
    qCDebug(lcPivotrix) << "exchange req start";
    const QJsonObject body{{QStringLiteral("challenge_id"), uuid}};
    QNetworkReply* exchange = send(QByteArrayLiteral("POST"), QStringLiteral("/api/v2/user/exchange"),
                                   QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(exchange, &QNetworkReply::finished, this,
            [this, exchange, attempt] { onExchangeFinished(exchange, attempt); });
}

void ColorChallengeDialog::onExchangeFinished(QNetworkReply* reply, int attempt)
{
    QByteArray body;
    const int status = finishReply(reply, "exchange req finished", &body);
    if (m_closed || attempt != m_attempt)
        return;
    m_resolving = false;
    if (status != 200) {
        qCDebug(lcPivotrix) << "exchange error " << body.left(kLoggedBodyBytes);
        enterStage(PairingStage::Failed);
        return;
    }
    // The exchange reply carries the key: it never reaches the log.
    qCDebug(lcPivotrix) << "user data" << PairingChallenge::redactedExchange(body, kLoggedBodyBytes);
    const QString key = PairingChallenge::keyFromExchange(body);
    if (key.isEmpty()) {
        // Waiting would only end in a misleading "Timeout".
        qCDebug(lcPivotrix) << "exchange gave no key";
        enterStage(PairingStage::Failed);
        return;
    }
    if (m_keyEmitted)
        return;
    m_keyEmitted = true;
    m_closed = true;
    emit keyAvailable(key);
    accept();
}

void ColorChallengeDialog::on_retryButton_clicked()
{
    // A hidden button keeps its geometry; only a visible one may act.
    if (m_retryButton->isHidden() || m_closed)
        return;
    if (m_stage == PairingStage::NotSupported) {
        reject();
        return;
    }
    // Whatever the last challenge still waits for belongs to it, not to the one asked for now.
    abortOutstanding();
    m_resolving = false;
    ++m_attempt;
    requestChallenge();
    enterStage(PairingStage::Requesting);
}

void ColorChallengeDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_retryButton->isHidden() && m_retryButton->geometry().contains(event->pos())) {
        on_retryButton_clicked();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

void ColorChallengeDialog::reject()
{
    QDialog::reject();
    m_closed = true;
    if (m_challenge.state != ChallengeState::InProgress)
        return;
    qCDebug(lcPivotrix) << "delete challenge req";
    // Not tracked: the dialog is deleted right after, and the panel should still hear the cancel.
    QNetworkReply* reply = startRequest(QByteArrayLiteral("DELETE"), challengePath(), QByteArray());
    connect(reply, &QNetworkReply::finished, reply, [reply] {
        qCDebug(lcPivotrix) << "stop challenge"
                            << reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()
                            << reply->error() << reply->errorString();
        reply->deleteLater();
    });
    m_challenge = PairingChallenge();
}
