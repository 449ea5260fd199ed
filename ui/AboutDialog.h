#pragma once

#include <QDialog>

class QPushButton;

// Application name, version and copyright.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    QPushButton* okButton() const { return m_okButton; }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPushButton* m_okButton = nullptr;
};
