#include "core/DiagnosticLog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

Q_LOGGING_CATEGORY(lcPivotrix, "pivotrix")

namespace {
struct Sink
{
    QMutex mutex;
    QFile file;
    qint64 limit = DiagnosticLog::kDefaultLimit;
    bool toStandardError = false;
    QtMessageHandler previous = nullptr;
};

Sink& sink()
{
    static Sink instance;
    return instance;
}

bool isWarning(QtMsgType type)
{
    return type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    Sink& s = sink();
    {
        const QByteArray line =
            QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' + message.toUtf8() + '\n';
        QMutexLocker lock(&s.mutex);
        if (s.file.isOpen()) {
            if (s.file.size() + line.size() > s.limit) {
                // One older file is enough for a report and bounds the folder at twice the limit.
                const QString path = s.file.fileName();
                s.file.close();
                QFile::remove(path + QStringLiteral(".1"));
                QFile::rename(path, path + QStringLiteral(".1"));
                if (s.file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    s.file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
            }
            s.file.write(line);
            s.file.flush();
        }
    }
    if ((s.toStandardError || isWarning(type)) && s.previous)
        s.previous(type, context, message);
}
} // namespace

void DiagnosticLog::install(const QString& filePath, bool toStandardError, qint64 limit)
{
    Sink& s = sink();
    {
        QMutexLocker lock(&s.mutex);
        s.limit = limit;
        s.toStandardError = toStandardError;
        s.file.close();
        s.file.setFileName(filePath);
        if (s.file.open(QIODevice::WriteOnly | QIODevice::Append))
            s.file.setPermissions(QFile::ReadOwner | QFile::WriteOwner); // addresses of the user's panels
        else
            s.toStandardError = true; // without the file, the journal is the only record
    }
    const QtMessageHandler previous = qInstallMessageHandler(&handle);
    if (previous != &handle)
        s.previous = previous;
    if (!s.file.isOpen())
        qCWarning(lcPivotrix) << "cannot write the log file" << filePath << s.file.errorString();
}

void DiagnosticLog::uninstall()
{
    Sink& s = sink();
    qInstallMessageHandler(s.previous);
    QMutexLocker lock(&s.mutex);
    s.file.close();
}

bool DiagnosticLog::standardErrorWanted(bool verbose)
{
    return verbose || qEnvironmentVariableIsSet("QT_LOGGING_RULES") ||
           qEnvironmentVariableIsSet("QT_LOGGING_CONF");
}
