#include "ui/MainWindow.h"

#include <QDebug>
#include <QLabel>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(tr("Pivotrix Entertainment"));
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.ico")));
    auto* placeholder = new QLabel(tr("Pivotrix Entertainment"), this);
    placeholder->setAlignment(Qt::AlignCenter);
    setCentralWidget(placeholder);
    resize(1221, 616);
}

void MainWindow::handleMessage(const QString& message)
{
    qDebug() << "handle external msg" << message;
    if (message == QLatin1String("show"))
        emit needToShow();
}
