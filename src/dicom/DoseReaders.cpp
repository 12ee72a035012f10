#include "dicom/DoseReaders.h"

#include "DcmtkSupport.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>

namespace dicom {

namespace {

DcmDataset *dataset(const std::unique_ptr<DcmFileFormat> &file)
{
    return file ? file->getDataset() : nullptr;
}

bool isTotalDlpItem(DcmItem &item)
{
    if (detail::text(item, DCM_ValueType) != QLatin1String("NUM"))
        return false;
    DcmItem *conceptName = detail::firstItem(item, DCM_ConceptNameCodeSequence);
    return conceptName != nullptr && detail::text(*conceptName, DCM_CodeValue) == QLatin1String("113813")
           && detail::text(*conceptName, DCM_CodingSchemeDesignator) == QLatin1String("DCM");
}

// Depth first over the SR content tree. Real trees are shallow; the depth
// limit only keeps a hostile file from exhausting the stack.
std::optional<double> findTotalDlp(DcmItem &item, int depth)
{
    if (isTotalDlpItem(item)) {
        DcmItem *measured = detail::firstItem(item, DCM_MeasuredValueSequence);
        if (measured == nullptr)
            return std::nullopt;
        bool ok = false;
        const double value = detail::text(*measured, DCM_NumericValue).toDouble(&ok);
        return ok ? std::optional<double>(value) : std::nullopt;
    }
    if (depth > 256)
        return std::nullopt;
    DcmSequenceOfItems *content = nullptr;
    if (item.findAndGetSequence(DCM_ContentSequence, content).bad() || content == nullptr)
        return std::nullopt;
    for (unsigned long i = 0; i < content->card(); ++i) {
        if (DcmItem *child = content->getItem(i)) {
            if (auto found = findTotalDlp(*child, depth + 1))
                return found;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<double> readTotalDlp(const QString &filePath)
{
    const auto file = detail::loadFile(filePath, detail::LoadMode::Whole);
    DcmDataset *ds = dataset(file);
    if (ds == nullptr || detail::text(*ds, DCM_Modality) != QLatin1String("SR"))
        return std::nullopt;
    return findTotalDlp(*ds, 0);
}

QString readCtdiPhantom(const QString &filePath)
{
    const auto file = detail::loadFile(filePath, detail::LoadMode::Whole);
    DcmDataset *ds = dataset(file);
    if (ds == nullptr)
        return QString();
    DcmItem *phantom = detail::firstItem(*ds, DCM_CTDIPhantomTypeCodeSequence);
    if (phantom == nullptr)
        return QString();
    const QString meaning = detail::text(*phantom, DCM_CodeMeaning).toLower();
    if (meaning.contains(QLatin1String("head")))
        return QStringLiteral("head");
    if (meaning.contains(QLatin1String("body")))
        return QStringLiteral("body");
    return QString();
}

std::optional<double> readCtdiVol(const QString &filePath)
{
    const auto file = detail::loadFile(filePath, detail::LoadMode::Whole);
    DcmDataset *ds = dataset(file);
    Float64 value = 0.0;
    if (ds == nullptr || ds->findAndGetFloat64(DCM_CTDIvol, value).bad())
        return std::nullopt;
    return value;
}

QString readProtocolName(const QString &filePath)
{
    const auto file = detail::loadFile(filePath, detail::LoadMode::Whole);
    DcmDataset *ds = dataset(file);
    return ds ? detail::text(*ds, DCM_ProtocolName) : QString();
}

} // namespace dicom
