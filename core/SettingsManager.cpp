#include "core/SettingsManager.h"

#include "core/DiagnosticLog.h"
#include "core/SettingsFile.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
// API keys live in this file.
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
} // namespace

SettingsManager::SettingsManager(QObject* parent)
    : QObject(parent)
{}

void SettingsManager::load(const QString& path)
{
    m_path = path;
    m_unparsedFileOnDisk = false;
    m_unsaved = false;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;

    const QByteArray bytes = file.readAll();
    QString reason;
    if (!SettingsFile::parse(bytes, &m_settings, &reason)) {
        // Starting empty is the documented behaviour, but the user's devices and keys must survive it.
        m_settings.clear();
        m_unparsedFileOnDisk = !bytes.trimmed().isEmpty();
        qCDebug(lcPivotrix) << "settings file not a json object, starting empty" << path << reason;
    }
}

bool SettingsManager::preserveUnparsedFile()
{
    if (!m_unparsedFileOnDisk)
        return true;
    QString target = m_path + QStringLiteral(".corrupt");
    if (QFileInfo::exists(target))
        target +=
            QLatin1Char('.') + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
    if (!QFile::copy(m_path, target)) {
        // The original file may be gone by now; then there is nothing left to protect.
        if (QFileInfo::exists(m_path)) {
            qCDebug(lcPivotrix) << "cannot keep unreadable settings aside, not saving" << target;
            return false;
        }
    } else {
        QFile::setPermissions(target, kOwnerOnly);
        qCDebug(lcPivotrix) << "unreadable settings kept as" << target;
    }
    m_unparsedFileOnDisk = false;
    return true;
}

bool SettingsManager::save()
{
    m_unsaved = !write();
    return !m_unsaved;
}

bool SettingsManager::write()
{
    if (m_path.isEmpty()) {
        qCDebug(lcPivotrix) << "settings save failed: no path loaded";
        return false;
    }
    if (!preserveUnparsedFile())
        return false;

    // Write a temporary file and rename it over the old one, so a kill mid-save leaves either version whole.
    // Unbuffered: a full disk then fails the write; buffered, QSaveFile misses the failed flush and commits
    // an empty file over the user's pairings.
    QSaveFile file(m_path);
    const QByteArray text = SettingsFile::compose(m_settings);
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (written) {
        file.setPermissions(kOwnerOnly);
        written = file.write(text) == text.size() && file.commit();
    }
    if (!written) {
        // The user's pairings are at stake: this goes to the journal too.
        qCWarning(lcPivotrix) << "settings not saved, the file keeps the ones saved before:" << m_path
                              << file.errorString();
        file.cancelWriting();
        return false;
    }
    // QSaveFile carries an existing file's mode over to the new one; tighten a looser one left by others.
    QFile::setPermissions(m_path, kOwnerOnly);
    emit settingsChanged();
    return true;
}

bool SettingsManager::contains(const QString& key) const
{
    return m_settings.contains(key);
}

QVariant SettingsManager::value(const QString& key) const
{
    return m_settings.value(key);
}

void SettingsManager::setValue(const QString& key, const QVariant& value)
{
    m_settings.insert(key, value);
}
