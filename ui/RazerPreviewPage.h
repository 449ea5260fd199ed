#pragma once

#include <QWidget>

class QLabel;

// Shown instead of the device tabs when the Chroma broadcast cannot be used or no device is paired.
class RazerPreviewPage : public QWidget
{
    Q_OBJECT
public:
    enum PreviewState
    {
        UnknownIssue = 0,
        NoDevice = 1,
        SdkMissing = 2,
        BroadcastNotLive = 3
    };

    explicit RazerPreviewPage(QWidget* parent = nullptr);

    void setState(int state);
    int state() const { return m_state; }
    QString errorText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* m_logo = nullptr;
    QLabel* m_errorText = nullptr;
    int m_state = -1;
};
