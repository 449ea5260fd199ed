#include "device/SharedNetworkManager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QPointer>

QNetworkAccessManager* sharedNetworkManager()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        qDebug() << "new network manager";
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setTransferTimeout(20000);
    }
    return manager;
}
