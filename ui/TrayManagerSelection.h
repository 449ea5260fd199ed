#pragma once

#include <QObject>

#include <memory>

// Follows whether an XEmbed tray manager owns the tray selection of the default screen, so a tray icon can
// be made only once there is somewhere to dock it. Where the platform always has a tray, it always has one.
class TrayManagerSelection : public QObject
{
    Q_OBJECT
public:
    explicit TrayManagerSelection(QObject* parent = nullptr);
    ~TrayManagerSelection() override;

    bool hasOwner() const;

signals:
    // The owner went, or a new one (possibly replacing another) took the selection.
    void ownerChanged(bool hasOwner);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
