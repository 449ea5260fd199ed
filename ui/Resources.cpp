#include "ui/Resources.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmapCache>
#include <QtGlobal>

void ensureResourcesLoaded()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(res);
        return true;
    }();
    Q_UNUSED(loaded)
}

QPixmap resourcePixmap(const QString& path)
{
    ensureResourcesLoaded();
    QPixmap pixmap;
    if (QPixmapCache::find(path, &pixmap))
        return pixmap;
    QImageReader reader(path, QFileInfo(path).suffix().toLower().toLatin1());
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    if (image.isNull()) {
        qCDebug(lcPivotrix) << "cannot read picture" << path << reader.errorString();
        return pixmap;
    }
    pixmap = QPixmap::fromImage(image);
    QPixmapCache::insert(path, pixmap);
    return pixmap;
}
