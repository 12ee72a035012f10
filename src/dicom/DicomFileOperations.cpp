#include "dicom/DicomFileOperations.h"

#include "dicom/CodecRegistration.h"
#include "DcmtkSupport.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    if (!DcmXfer(ds.getOriginalXfer()).isEncapsulated()
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
