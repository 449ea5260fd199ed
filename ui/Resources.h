#pragma once

#include <QPixmap>
#include <QString>

// The compiled-in images and fonts sit in a static library, where nothing else would pull them into
// the executable; call before the first ":/" path is used.
void ensureResourcesLoaded();

// A compiled-in picture, read by the decoder its file name calls for and no other. QPixmap's own
// reading first offers every picture to every image plugin installed, which loads them all (TIFF,
// WebP, MNG and their libraries) for a PNG that Qt decodes itself.
QPixmap resourcePixmap(const QString& path);
