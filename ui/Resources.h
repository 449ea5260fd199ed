#pragma once

// The compiled-in images and fonts sit in a static library, where nothing else would pull them into
// the executable; call before the first ":/" path is used.
void ensureResourcesLoaded();
