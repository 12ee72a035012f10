#pragma once

#include "db/Database.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringBuilder>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>

// Index files of the tests' own, a second connection to look into them, and
// the summaries that most index tests fill them with.
namespace velmaris::testing {

using namespace Qt::StringLiterals;
using dicom::DicomFileSummary;

inline const char *const kTables[] = {"patients", "studies", "series", "instances"};

inline QString l1(const char *text)
{
    return QString::fromLatin1(text);
}

// Values joined by '|', so that one comparison shows a whole record.
inline QString cells(const QVariantList &values)
{
    QStringList out;
    for (const QVariant &v : values)
        out << v.toString();
    return out.join(u'|');
}

inline QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// A second connection of our own to look at (and prepare) index files behind
// the back of db::Database.
class RawConnection
{
public:
    explicit RawConnection(const QString &path, int busyTimeoutMs = 5000)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(busyTimeoutMs));
        db.open();
    }
    ~RawConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    // The error text, empty on success, so that QCOMPARE shows it.
    QString exec(const QString &sql) const
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        return q.exec(sql) ? QString() : q.lastError().text();
    }

    // One string per row. Typed cells name each value's storage class too, so
    // that two indexes can be compared whole, REAL against INTEGER included.
    QStringList rows(const QString &sql, bool typed = false) const
    {
        QStringList out;
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.exec(sql);
        while (q.next()) {
            QStringList cells;
            for (int i = 0, n = q.record().count(); i < n; ++i) {
                const QVariant v = q.value(i);
                if (!typed)
                    cells.append(v.toString());
                else if (v.isNull())
                    cells.append(u"NULL"_s);
                else
                    cells.append(u"%1:%2"_s.arg(l1(v.typeName()), v.toString()));
            }
            out.append(cells.join(QLatin1Char('|')));
        }
        return out;
    }

    int count(const QString &sql) const { return rows(sql).value(0, u"-1"_s).toInt(); }

    // The schema and every row of every table, each table in key order.
    QStringList dumpAll() const
    {
        QStringList out = rows(u"SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;"_s);
        for (const char *table : kTables)
            out += rows(u"SELECT * FROM %1 ORDER BY 1;"_s.arg(l1(table)), true);
        return out;
    }

private:
    const QString m_name = u"raw_%1"_s.arg(QUuid::createUuid().toString());
};

// An index file of its own in a temporary directory.
struct TempIndex
{
    QTemporaryDir dir;
    QString path = dir.filePath(u"index.sqlite3"_s);
    db::Database db{nullptr};

    bool open() { return db.open(path); }
    bool insertAll(const QVector<DicomFileSummary> &summaries)
    {
        return std::all_of(summaries.cbegin(), summaries.cend(),
                           [this](const DicomFileSummary &s) { return db.insertSummary(s); });
    }
};

// One slice of an ordinary chest CT.
inline DicomFileSummary ctSummary(const QString &patientId, const QString &studyUid, const QString &seriesUid,
                           const QString &sopUid, int instanceNumber, const QString &filePath)
{
    DicomFileSummary s;
    s.patient_id = patientId;
    s.patient_name = u"Иванов^Иван^Петрович"_s;
    s.birth_date = u"19620314"_s;
    s.sex = u"M"_s;
    s.weight_kg = 82.5;
    s.height_cm = 176.0;
    s.study_instance_uid = studyUid;
    s.study_date = u"20240115"_s;
    s.study_time = u"101530"_s;
    s.study_description = u"КТ органов грудной клетки"_s;
    s.accession_number = u"A20240115-07"_s;
    s.referring_physician = u"Петрова^А^В"_s;
    s.series_instance_uid = seriesUid;
    s.series_number = u"2"_s;
    s.series_description = u"Lung 1.25mm"_s;
    s.modality = u"CT"_s;
    s.body_part_examined = u"CHEST"_s;
    s.laterality = u"L"_s;
    s.sop_instance_uid = sopUid;
    s.instance_number = instanceNumber;
    s.rows = 512;
    s.pixel_spacing_x = 0.703125;
    s.slice_thickness = 1.25;
    s.slice_location = -1.25 * instanceNumber;
    s.window_center = -600.0;
    s.window_width = 1500.0;
    s.rescale_intercept = -1024.0;
    s.acquisition_time_seconds = 36930.25;
    s.frame_of_reference_uid = u"1.2.826.0.1.3680043.2.1125.1.77"_s;
    s.image_position = {-180.0, -180.0, -1.25 * instanceNumber};
    s.has_spatial_info = true;
    s.file_path = filePath;
    return s;
}

inline DicomFileSummary ctSummary(const QString &sopUid, const QString &filePath)
{
    return ctSummary(u"PAT-1"_s, u"1.2.3.100"_s, u"1.2.3.100.1"_s,
                     sopUid, 1, filePath);
}

// The archive that most tests share. Insertion order, text dates, a time
// tie-break, a missing date, a missing modality and series numbers that are
// not plain numbers each matter to a query.
struct ArchiveRow
{
    const char *patient, *study, *date, *time, *series, *seriesNumber, *modality;
    int files, frames;
    double weightKg; // the patient's last file sets the patient's weight
};
inline const ArchiveRow kArchive[] = {
    {"P1", "2.1", "20240115", "090000", "2.1.1", "10", "CT", 3, 1, 80.0},
    {"P1", "2.1", "20240115", "090000", "2.1.2", "9", "MR", 1, 4, 80.0},
    {"P1", "2.1", "20240115", "090000", "2.1.3", "", "CT", 1, 1, 80.0},
    {"P1", "2.2", "20240120", "100000", "2.2.1", "1", "CT", 2, 1, 81.0},
    {"P2", "2.3", "202402", "120000", "2.3.1", "1", "", 1, 1, 61.0},
    {"P3", "2.4", "", "", "2.4.1", "12a", "CT", 1, 1, 70.0},
    {"P3", "2.4", "", "", "2.4.2", "scout", "", 1, 1, 70.0},
    {"P3", "2.4", "", "", "2.4.3", "-4", "CT", 1, 1, 70.0},
    {"P3", "2.4", "", "", "2.4.4", "2", "CT", 1, 1, 70.0},
    {"P1", "2.5", "20240115", "080000", "2.5.1", "1", "CT", 1, 1, 83.0},
};

// The archive's files, in insertion order, each named after its instance.
inline QVector<DicomFileSummary> archiveSummaries(const QDir &dir)
{
    QVector<DicomFileSummary> out;
    for (const ArchiveRow &r : kArchive) {
        for (int i = 1; i <= r.files; ++i) {
            const QString sop = l1(r.series) % u'.' % QString::number(i);
            DicomFileSummary s = ctSummary(l1(r.patient), l1(r.study), l1(r.series), sop, i, dir.filePath(sop));
            s.study_date = l1(r.date);
            s.study_time = l1(r.time);
            s.series_number = l1(r.seriesNumber);
            s.modality = l1(r.modality);
            s.number_of_frames = r.frames;
            s.weight_kg = r.weightKg;
            out.append(s);
        }
    }
    return out;
}

// Real files: deleting from the index must leave them on disk.
inline bool fillArchive(TempIndex &index)
{
    const QVector<DicomFileSummary> summaries = archiveSummaries(QDir(index.dir.path()));
    for (const DicomFileSummary &s : summaries) {
        QFile file(s.file_path);
        if (!file.open(QIODevice::WriteOnly) || file.write("DICM") != 4)
            return false;
    }
    return index.insertAll(summaries);
}

inline QStringList studyUids(const QList<db::StudyRecord> &studies)
{
    QStringList out;
    for (const db::StudyRecord &r : studies)
        out.append(r.study_instance_uid);
    return out;
}

// The tables of the first released index, before any of the later columns.
inline const QStringList kFirstVersionSchema = {
    u"CREATE TABLE patients (patient_id TEXT PRIMARY KEY, patient_name TEXT, birth_date TEXT, sex TEXT);"_s,
    QStringLiteral("CREATE TABLE studies (study_instance_uid TEXT PRIMARY KEY, patient_id TEXT REFERENCES patients(patient_id), "
                   "study_date TEXT, study_time TEXT, study_description TEXT, accession_number TEXT, referring_physician TEXT);"),
    QStringLiteral("CREATE TABLE series (series_instance_uid TEXT PRIMARY KEY, study_instance_uid TEXT REFERENCES studies(study_instance_uid), "
                   "series_number TEXT, series_description TEXT, modality TEXT, body_part_examined TEXT);"),
    QStringLiteral("CREATE TABLE instances (sop_instance_uid TEXT PRIMARY KEY, series_instance_uid TEXT REFERENCES series(series_instance_uid), "
                   "instance_number INTEGER, rows INTEGER, columns INTEGER, number_of_frames INTEGER, pixel_spacing_x REAL, "
                   "pixel_spacing_y REAL, slice_thickness REAL, slice_location REAL, window_center REAL, window_width REAL, "
                   "rescale_slope REAL, rescale_intercept REAL, file_path TEXT NOT NULL);"),
};

} // namespace velmaris::testing
