#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>

// Collects every log line written while it lives (from any thread) and still prints them.
class LogCapture
{
public:
    LogCapture()
    {
        instance() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        instance() = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    int count(const QString& needle) const
    {
        QMutexLocker lock(&m_mutex);
        int n = 0;
        for (const QString& line : m_lines)
            n += line.contains(needle) ? 1 : 0;
        return n;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }

private:
    static std::atomic<LogCapture*>& instance()
    {
        static std::atomic<LogCapture*> current{nullptr};
        return current;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        LogCapture* self = instance();
        if (!self)
            return;
        {
            QMutexLocker lock(&self->m_mutex);
            self->m_lines.append(message);
        }
        if (self->m_previous)
            self->m_previous(type, context, message);
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
