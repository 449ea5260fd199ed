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

    PivotrixBSS device() const { return m_device; }
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
    void applyPairedState();

    PivotrixBSS m_device;
    QString m_apiKey;
    bool m_paired = false;
    QPointer<ColorChallengeDialog> m_dialog;

    QLabel* m_nameValue = nullptr;
    QLabel* m_errorLabel = nullptr;
    QLabel* m_addressValue = nullptr;
    QPushButton* m_verifyButton = nullptr;
};
