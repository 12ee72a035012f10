#include "dicom/DicomFileOperations.h"

#include "dicom/CodecRegistration.h"
#include "DcmtkSupport.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace dicom {

namespace {

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

// Loads a source file completely; reports the two load failures.
std::unique_ptr<DcmFileFormat> loadSource(const QString &path, QString *error)
{
    auto file = detail::loadFile(path, detail::LoadMode::Whole);
    if (!file) {
        setError(error, QStringLiteral("Не удалось открыть файл: %1").arg(path));
        return nullptr;
    }
    if (file->getDataset() == nullptr) {
        setError(error, QStringLiteral("Пустой набор данных: %1").arg(path));
        return nullptr;
    }
    return file;
}

bool makeParentFolder(const QString &path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath());
}

// DCMTK 3.6.7's JPEG-LS encoder sizes its output buffer from the frame and
// writes its padding byte past the end when the encoded frame fills it, which
// happens for tiny images where the stream's headers outweigh the pixels (a
// 3 × 3 colour image corrupts the heap). Such frames gain nothing from
// compression anyway; they are copied as they are.
bool worthEncoding(DcmDataset &ds)
{
    constexpr unsigned long smallestFrameBytes = 1024;
    Uint16 rows = 0, columns = 0, samples = 1, bitsAllocated = 0;
    if (ds.findAndGetUint16(DCM_Rows, rows).bad() || ds.findAndGetUint16(DCM_Columns, columns).bad()
        || ds.findAndGetUint16(DCM_BitsAllocated, bitsAllocated).bad())
        return false;
    ds.findAndGetUint16(DCM_SamplesPerPixel, samples);
    const unsigned long frameBytes =
        static_cast<unsigned long>(rows) * columns * std::max<Uint16>(samples, 1) * ((bitsAllocated + 7u) / 8u);
    return frameBytes >= smallestFrameBytes;
}

} // namespace

bool anonymizeFile(const QString &sourcePath, const QString &destinationPath,
                   const QString &newPatientName, const QString &newPatientId, QString *error)
{
    CodecRegistration codecs;
    auto file = loadSource(sourcePath, error);
    if (!file)
        return false;
    DcmDataset &ds = *file->getDataset();

    ds.putAndInsertString(DCM_PatientName, newPatientName.toUtf8().constData());
    ds.putAndInsertString(DCM_PatientID, newPatientId.toUtf8().constData());
    static const DcmTagKey emptied[] = {
        DCM_PatientBirthDate, DCM_PatientSex, DCM_PatientAge, DCM_PatientAddress,
        DCM_PatientTelephoneNumbers, DCM_OtherPatientNames, DCM_ReferringPhysicianName,
        DCM_PerformingPhysicianName, DCM_OperatorsName, DCM_InstitutionName,
        DCM_InstitutionAddress, DCM_InstitutionalDepartmentName, DCM_AccessionNumber,
        DCM_RequestingPhysician, DCM_StudyID,
    };
    for (const DcmTagKey &tag : emptied)
        ds.putAndInsertString(tag, "");

    makeParentFolder(destinationPath);
    const E_TransferSyntax xfer = detail::uncompressedWriteXfer(ds, quint64(QFileInfo(sourcePath).size()));
    if (!detail::saveReplacing(*file, destinationPath, xfer)) {
        setError(error, QStringLiteral("Не удалось сохранить: %1").arg(destinationPath));
        return false;
    }
    return true;
}

bool copyCompressedLossless(const QString &sourcePath, const QString &destinationPath,
                            QString *error)
{
    CodecRegistration codecs;
    auto file = loadSource(sourcePath, error);
    if (!file)
        return false;
    DcmDataset &ds = *file->getDataset();

    makeParentFolder(destinationPath);
    if (!DcmXfer(ds.getOriginalXfer()).isEncapsulated() && worthEncoding(ds)
        && ds.chooseRepresentation(EXS_JPEGLSLossless, nullptr).good()
        && ds.canWriteXfer(EXS_JPEGLSLossless)
        && detail::saveReplacing(*file, destinationPath, EXS_JPEGLSLossless)) {
        return true;
    }

    // Already compressed, or the encoder refused: the original bytes will do.
    if (!QFile::copy(sourcePath, destinationPath)) {
        setError(error, QStringLiteral("Не удалось скопировать: %1").arg(sourcePath));
        return false;
    }
    return true;
}

} // namespace dicom
