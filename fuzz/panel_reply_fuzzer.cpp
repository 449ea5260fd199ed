// libFuzzer target over the readers of the panel's JSON replies (device info, stream status, start and stop),
// each fed the body as the controller feeds it. Oracle: a start grant is either whole and in range or empty.
#include "device/PanelReply.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    const QVariantMap reply = PanelReply::map(body);
    const PanelReply::DeviceInfo info = PanelReply::deviceInfo(reply);
    (void)info;
    (void)PanelReply::status(reply);
    const QSize whenMissing(4, 8);
    const QSize canvas = PanelReply::canvas(reply, whenMissing);
    if (!reply.contains(QStringLiteral("canvas")) && canvas != whenMissing)
        std::abort();
    const PanelReply::StartGrant grant = PanelReply::startGrant(reply);
    if (grant.usable() ? (grant.port > 65535 || grant.sessionId.isEmpty()) : !grant.sessionId.isEmpty())
        std::abort();
    return 0;
}
