#include "LogCapture.h"

#include <QMutexLocker>

namespace {
// Held while a line is taken: a capture ending while another thread logs must wait for that line.
QMutex g_currentLock;
LogCapture* g_current = nullptr;
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_currentLock);
    g_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&g_currentLock);
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
    QtMessageHandler previous = nullptr;
    {
        QMutexLocker current(&g_currentLock);
        LogCapture* self = g_current;
        if (!self)
            return;
        QMutexLocker lock(&self->m_mutex);
        self->m_lines.append(message);
        previous = self->m_previous;
    }
    if (previous)
        previous(type, context, message);
}
