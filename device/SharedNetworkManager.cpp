#include "device/SharedNetworkManager.h"

#include "core/DiagnosticLog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QPointer>

QNetworkAccessManager* sharedNetworkManager()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        qCDebug(lcPivotrix) << "new network manager";
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setTransferTimeout(20000);
    }
    return manager;
}
