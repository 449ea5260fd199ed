#include "AccessibleUi.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

namespace {
const QString kConnection = QStringLiteral("soak-a11y");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
constexpr int kCallTimeoutMs = 5000;
// AT-SPI's state bits and coordinate type, as atspi-constants.h numbers them.
constexpr int kStateShowing = 25;
constexpr uint kScreenCoordinates = 0;

struct Reference
{
    QString service;
    QDBusObjectPath path;
};

const QDBusArgument& operator>>(const QDBusArgument& in, Reference& ref)
{
    in.beginStructure();
    in >> ref.service >> ref.path;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const Reference& ref)
{
    out.beginStructure();
    out << ref.service << ref.path;
    out.endStructure();
    return out;
}
} // namespace

Q_DECLARE_METATYPE(Reference)

AccessibleUi::AccessibleUi()
{
    qDBusRegisterMetaType<Reference>();
    qDBusRegisterMetaType<QList<Reference>>();
}

AccessibleUi::~AccessibleUi()
{
    m_bus = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(kConnection);
}

bool AccessibleUi::connectVia(const QDBusConnection& sessionBus, QString* error)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    const QDBusReply<QString> address = sessionBus.call(call, QDBus::Block, 10000);
    if (!address.isValid() || address.value().isEmpty()) {
        *error = QStringLiteral("no accessibility bus (at-spi2-core): %1").arg(address.error().message());
        return false;
    }
    m_bus = QDBusConnection::connectToBus(address.value(), kConnection);
    if (!m_bus.isConnected()) {
        *error = QStringLiteral("cannot reach the accessibility bus at %1").arg(address.value());
        return false;
    }
    // The registry is started on demand; the application registers with it as it starts.
    const QList<Node> apps = children({QStringLiteral("org.a11y.atspi.Registry"), kRootPath});
    Q_UNUSED(apps)
    return true;
}

QList<AccessibleUi::Node> AccessibleUi::windows(const QString& application)
{
    for (const Node& app : children({QStringLiteral("org.a11y.atspi.Registry"), kRootPath})) {
        if (name(app) == application)
            return children(app);
    }
    return {};
}

QList<AccessibleUi::Node> AccessibleUi::children(const Node& node)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(node.service, node.path, kAccessible, QStringLiteral("GetChildren"));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    QList<Node> nodes;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return nodes;
    const QList<Reference> refs = qdbus_cast<QList<Reference>>(reply.arguments().first());
    for (const Reference& ref : refs)
        nodes << Node{ref.service, ref.path.path()};
    return nodes;
}

QString AccessibleUi::name(const Node& node)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        node.service, node.path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kAccessible << QStringLiteral("Name");
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QString();
    return qdbus_cast<QDBusVariant>(reply.arguments().first()).variant().toString();
}

QString AccessibleUi::role(const Node& node)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(node.service, node.path, kAccessible, QStringLiteral("GetRoleName"));
    const QDBusReply<QString> reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    return reply.isValid() ? reply.value() : QString();
}

QRect AccessibleUi::extents(const Node& node)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        node.service, node.path, QStringLiteral("org.a11y.atspi.Component"), QStringLiteral("GetExtents"));
    call << kScreenCoordinates;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QRect();
    const QDBusArgument arg = reply.arguments().first().value<QDBusArgument>();
    int x = 0, y = 0, w = 0, h = 0;
    arg.beginStructure();
    arg >> x >> y >> w >> h;
    arg.endStructure();
    return QRect(x, y, w, h);
}

bool AccessibleUi::showing(const Node& node)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(node.service, node.path, kAccessible, QStringLiteral("GetState"));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QList<uint> words = qdbus_cast<QList<uint>>(reply.arguments().first());
    return !words.isEmpty() && (words.first() & (1u << kStateShowing));
}

bool AccessibleUi::setText(const Node& node, const QString& text)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(node.service, node.path, QStringLiteral("org.a11y.atspi.EditableText"),
                                       QStringLiteral("SetTextContents"));
    call << text;
    const QDBusReply<bool> reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    return reply.isValid() && reply.value();
}

AccessibleUi::Node AccessibleUi::find(const Node& from, const std::function<bool(const Node&)>& match,
                                      int depth)
{
    // Hidden pages hold most of the widgets: their subtrees are skipped, below the windows themselves.
    if (depth > 30 || (depth > 0 && !showing(from)))
        return {};
    if (match(from))
        return from;
    for (const Node& child : children(from)) {
        const Node found = find(child, match, depth + 1);
        if (found.isValid())
            return found;
    }
    return {};
}

AccessibleUi::Node AccessibleUi::findNamed(const Node& from, const QString& wantedRole,
                                           const QString& wantedName)
{
    return find(from, [&](const Node& node) { return role(node) == wantedRole && name(node) == wantedName; });
}
