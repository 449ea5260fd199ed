#include "capture/linux/StreamFormat.h"

#include <QStringList>

#include <spa/debug/types.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/iter.h>

#include <cstring>

namespace {

constexpr int Block = 16;

bool supported(quint32 format)
{
    return format == SPA_VIDEO_FORMAT_BGRx || format == SPA_VIDEO_FORMAT_BGRA ||
           format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
}

} // namespace

bool StreamFormat::read(const spa_pod* param, StreamFormat* out)
{
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    if (!param || spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
        return false;
    // Read as plain numbers: spa_format_video_raw_parse stores any id the producer sends into an enum, and
    // one beyond the enum's values is undefined behaviour before it could be refused.
    uint32_t format = 0;
    spa_rectangle size{};
    if (spa_pod_parse_object(param, SPA_TYPE_OBJECT_Format, nullptr, SPA_FORMAT_VIDEO_format,
                             SPA_POD_Id(&format), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size)) < 0)
        return false;
    if (!supported(format) || size.width < 1 || size.height < 1 || size.width > uint32_t(MaxSide) ||
        size.height > uint32_t(MaxSide))
        return false;
    out->format = format;
    out->width = int(size.width);
    out->height = int(size.height);
    return true;
}

QString StreamFormat::describe(const spa_pod* param)
{
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    if (!param || spa_format_parse(param, &mediaType, &mediaSubtype) < 0)
        return QStringLiteral("unparsable");
    if (mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
        return QString::fromUtf8(spa_debug_type_find_short_name(spa_type_media_subtype, mediaSubtype));
    QStringList names;
    if (const spa_pod_prop* prop = spa_pod_find_prop(param, nullptr, SPA_FORMAT_VIDEO_format)) {
        // Walked by hand: spa_pod_get_values trusts a choice's own sizes, which may reach past the param.
        const spa_pod* value = &prop->value;
        const auto* body = static_cast<const uchar*>(SPA_POD_BODY_CONST(value));
        uint32_t size = value->size;
        uint32_t type = value->type;
        uint32_t step = size;
        if (type == SPA_TYPE_Choice) {
            const auto* choice = static_cast<const spa_pod_choice_body*>(SPA_POD_BODY_CONST(value));
            if (size < sizeof *choice)
                size = 0;
            else {
                type = choice->child.type;
                step = choice->child.size;
                body += sizeof *choice;
                size -= sizeof *choice;
            }
        }
        for (uint32_t at = 0;
             type == SPA_TYPE_Id && step >= sizeof(uint32_t) && size - at >= step && at < size; at += step) {
            uint32_t id = 0;
            std::memcpy(&id, body + at, sizeof id);
            const QString name = QString::fromUtf8(spa_debug_type_find_short_name(spa_type_video_format, id));
            if (!names.contains(name))
                names << name;
        }
    }
    // A modifier is what a producer of DMA-BUF offers.
    const bool dmaBuf = spa_pod_find_prop(param, nullptr, SPA_FORMAT_VIDEO_modifier) != nullptr;
    return names.join(QLatin1Char('/')) + (dmaBuf ? QStringLiteral(" DMA-BUF") : QString());
}

qint64 StreamFormat::readableStride(qint32 stride, quint32 offset, quint32 size, quint32 maxsize) const
{
    const qint64 blocksW = width / Block;
    const qint64 blocksH = height / Block;
    if (blocksW <= 0 || blocksH <= 0)
        return 0;
    const qint64 rowBytes = blocksW * Block * 4;
    const qint64 used = stride > 0 ? stride : qint64(width) * 4;
    const qint64 span = used * (blocksH * Block - 1) + rowBytes;
    if (used < rowBytes || span > qint64(size) || qint64(offset) + qint64(size) > qint64(maxsize))
        return 0;
    return used;
}

bool StreamFormat::redFirst() const
{
    return format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
}
