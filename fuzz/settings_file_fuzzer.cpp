// libFuzzer target over the reading of "settings.json" as the program loads it: the text, then the paired
// panels. Oracle: a file that reads is saved as text that reads back with the same entries and panels, so
// nothing the user saved is lost by the next save; a file that does not read says why.
#include "core/SettingsFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), int(size));
    QVariantMap settings;
    QString reason;
    if (!SettingsFile::parse(text, &settings, &reason)) {
        if (reason.isEmpty() || !settings.isEmpty())
            std::abort();
        return 0;
    }
    const QString devices = QStringLiteral("devices");
    const int paired = SettingsFile::devices(settings.value(devices).toMap()).size();
    QVariantMap saved;
    if (!SettingsFile::parse(SettingsFile::compose(settings), &saved, &reason) ||
        saved.keys() != settings.keys() ||
        SettingsFile::devices(saved.value(devices).toMap()).size() != paired)
        std::abort();
    return 0;
}
