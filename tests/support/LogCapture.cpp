#include "LogCapture.h"

#include <QMutexLocker>

#include <atomic>

namespace {
std::atomic<LogCapture*> g_current{nullptr};
}

LogCapture::LogCapture()
{
    g_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_current = nullptr;
}

QStringList LogCapture::lines(const QString& needle) const
{
    QMutexLocker lock(&m_mutex);
    return m_lines.filter(needle);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    LogCapture* self = g_current;
    if (!self)
        return;
    {
        QMutexLocker lock(&self->m_mutex);
        self->m_lines.append(message);
    }
    if (self->m_previous)
        self->m_previous(type, context, message);
}
