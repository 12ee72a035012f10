#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace db {

struct ArchiveStatistics
{
    qint32 patients = 0;
    qint32 studies = 0;
    qint32 series = 0;
    qint32 instances = 0;
    QList<QPair<QString, qint32>> studiesPerModality;
    QList<QPair<QString, qint32>> instancesPerModality;
    QList<QPair<QString, qint32>> studiesPerMonth; // "YYYYMM"
    QList<QPair<QString, qint32>> studiesPerDay;   // "YYYYMMDD"
};

} // namespace db
