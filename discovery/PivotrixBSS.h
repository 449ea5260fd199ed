#pragma once

#include <QMetaType>
#include <QString>

// One panel found by a scan.
struct PivotrixBSS
{
    QString name;
    qint32 port = 0;
    QString model;
    QString address;
    QString id;
    qint32 ssFlag = 0;

    bool isComplete() const
    {
        return !name.isEmpty() && !model.isEmpty() && !address.isEmpty() && !id.isEmpty() && port != 0 &&
               ssFlag != 0;
    }
};

Q_DECLARE_METATYPE(PivotrixBSS)
