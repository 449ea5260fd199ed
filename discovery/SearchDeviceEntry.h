#pragma once

#include "discovery/ColorChallengeDialog.h"
#include "discovery/PivotrixBSS.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

// One row of the device search list: a paired panel (Unpair) or a found one (Pair).
class SearchDeviceEntry : public QWidget
{
    Q_OBJECT
public:
    SearchDeviceEntry(const PivotrixBSS& device, const QString& apiKey, QWidget* parent = nullptr);

    void setMessage(const QString& text);
    void setNameLabel(const QString& text);
    void setAddressLabel(const QString& text);

    // Records of panels that told their identity only over the device API, once paired, carry this
    // before the serial number.
    static constexpr char kSerialIdPrefix[] = "serial-";

    PivotrixBSS device() const { return m_device; }
    // A row for an address that told nothing about itself: once paired, the panel's device API says
    // which panel it is.
    void setIdentifyOnPairing(bool identify) { m_identifyOnPairing = identify; }
    bool isPaired() const { return m_paired; }
    // "http://<address>:8080", with an IPv6 host in brackets.
    QString baseUrl() const;
    ColorChallengeDialog* dialog() const { return m_dialog; }

signals:
    void forgetPressed();
    void deviceAdded(QString devId);

public slots:
    void onVerifyButton_clicked();

private:
    void setupForm();
    void onKeyAvailable(const QString& key);
    void identify(const QString& key);
    void identified(const QString& key, const QByteArray& body, int status, const QString& error);
    void addPaired(const QString& key);
    void applyPairedState();

    PivotrixBSS m_device;
    QString m_apiKey;
    bool m_paired = false;
    bool m_identifyOnPairing = false;
    QPointer<ColorChallengeDialog> m_dialog;

    QLabel* m_nameValue = nullptr;
    QLabel* m_errorLabel = nullptr;
    QLabel* m_addressValue = nullptr;
    QPushButton* m_verifyButton = nullptr;
};
