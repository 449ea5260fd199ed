#pragma once

#include <QColor>
#include <QList>
#include <QMutex>
#include <QObject>

// An ordered list of colours that changes over time. Generators poll colors() once per frame from their
// device threads; widgets listen to colorsChanged.
class AbstractColorProvider : public QObject
{
    Q_OBJECT
public:
    explicit AbstractColorProvider(QObject* parent = nullptr);
    ~AbstractColorProvider() override;

    virtual bool init();
    virtual QList<QColor> colors() const;
    // Safe to call from any thread; colorsChanged is emitted on the calling thread.
    virtual void updateColors(QList<QColor> newColors);

    bool isInitialized() const;

signals:
    void colorsChanged();

protected:
    void setInitialized(bool initialized);

private:
    mutable QMutex m_mutex;
    bool m_initialized = false;
    QList<QColor> m_colors;
};
