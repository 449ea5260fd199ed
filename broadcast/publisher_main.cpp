#include "broadcast/ChromaPublisher.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chroma-publisher"));
    return ChromaPublisher::run(QCoreApplication::arguments());
}
