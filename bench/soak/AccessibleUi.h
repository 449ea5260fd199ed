#pragma once

#include <QDBusConnection>
#include <QList>
#include <QRect>
#include <QString>
#include <functional>

// The application's widgets as a screen reader sees them, over the accessibility bus (AT-SPI): names, roles,
// where they are on screen, and their text fields. Clicks are the driver's own, with the pointer.
class AccessibleUi
{
public:
    struct Node
    {
        QString service;
        QString path;
        bool isValid() const { return !service.isEmpty(); }
    };

    AccessibleUi();
    ~AccessibleUi();
    AccessibleUi(const AccessibleUi&) = delete;
    AccessibleUi& operator=(const AccessibleUi&) = delete;

    // Starts the accessibility bus through the session bus, if it is not running, and connects to it.
    bool connectVia(const QDBusConnection& sessionBus, QString* error);
    // The application's top-level windows once it registered, by the name its process was started with.
    QList<Node> windows(const QString& application);

    QList<Node> children(const Node& node);
    QString name(const Node& node);
    QString role(const Node& node);
    QRect extents(const Node& node);
    bool showing(const Node& node);
    bool setText(const Node& node, const QString& text);
    // The first showing node under `from` (itself included) that `match` accepts, depth first.
    Node find(const Node& from, const std::function<bool(const Node&)>& match, int depth = 0);
    Node findNamed(const Node& from, const QString& role, const QString& name);

private:
    QDBusConnection m_bus{QString()};
};
