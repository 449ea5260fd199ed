#pragma once

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QProgressBar;

// Shows the outcome of an update check, with a download link when a newer version exists.
class UpdateDialog : public QDialog
{
    Q_OBJECT
public:
    explicit UpdateDialog(QWidget* parent = nullptr);

    void startManualCheck();
    QLabel* statusLabel() const { return m_statusLabel; }
    QDialogButtonBox* buttonBox() const { return m_buttonBox; }

public slots:
    void updateFinished(bool manual, bool hasNewVersion, const QString& version);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void openLink(const QString& link);

    QProgressBar* m_progressBar = nullptr;
    QLabel* m_statusLabel = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
};
