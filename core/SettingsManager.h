#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// The whole configuration as one map mirroring "settings.json". It knows nothing of the keys' meaning.
class SettingsManager : public QObject
{
    Q_OBJECT
public:
    explicit SettingsManager(QObject* parent = nullptr);

    void load(const QString& path);
    // Returns whether the file now holds the map; on failure the map and the old file are kept.
    bool save();
    // The last save failed (a read-only folder, a full disk): the map holds what the file does not.
    bool hasUnsavedChanges() const { return m_unsaved; }

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);

    QString path() const { return m_path; }

signals:
    void settingsChanged();

private:
    bool preserveUnparsedFile();
    bool write();

    QVariantMap m_settings;
    QString m_path;
    // The file at m_path could not be parsed; its bytes go aside before the first save replaces it.
    bool m_unparsedFileOnDisk = false;
    bool m_unsaved = false;
};
