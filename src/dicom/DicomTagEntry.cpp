#include "dicom/DicomTagEntry.h"

#include "dicom/CodecRegistration.h"
#include "DcmtkSupport.h"
#include "dicom/DicomText.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcmetinf.h>

#include <QFileInfo>

namespace dicom {

namespace {

void appendEntries(DcmItem &item, QList<DicomTagEntry> &entries)
{
    for (unsigned long i = 0; i < item.card(); ++i) {
        DcmElement *element = item.getElement(i);
        if (element == nullptr || element->getTag() == DCM_PixelData)
            continue;
        DcmTag tag = element->getTag();
        DicomTagEntry entry;
        entry.group = tag.getGTag();
        entry.element = tag.getETag();
        entry.name = QString::fromLatin1(tag.getTagName());
        entry.vr = QString::fromLatin1(tag.getVRName());
        OFString value;
        if (element->getOFStringArray(value, OFTrue).good())
            entry.value = decodeDicomText(value.c_str(), value.length());
        entries.append(entry);
    }
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QList<DicomTagEntry> listTags(const QString &filePath, QString *error)
{
    QList<DicomTagEntry> entries;
    auto file = detail::loadFile(filePath, detail::LoadMode::Lazy);
    if (!file) {
        if (error)
            *error = QStringLiteral("Не удалось открыть файл: %1").arg(filePath);
        return entries;
    }
    if (DcmMetaInfo *meta = file->getMetaInfo())
        appendEntries(*meta, entries);
    if (DcmDataset *dataset = file->getDataset())
        appendEntries(*dataset, entries);
    return entries;
}

bool writeTags(const QString &filePath, const QList<DicomTagEntry> &entries, QString *error)
{
    CodecRegistration codecs;
    auto file = detail::loadFile(filePath, detail::LoadMode::Whole);
    if (!file) {
        if (error)
            *error = QStringLiteral("Не удалось открыть файл: %1").arg(filePath);
        return false;
    }
    DcmDataset *ds = file->getDataset();
    if (ds == nullptr) {
        if (error)
            *error = QStringLiteral("Пустой набор данных: %1").arg(filePath);
        return false;
    }
    for (const DicomTagEntry &entry : entries) {
        const DcmTag tag(entry.group, entry.element);
        // File meta elements belong to the header that saving rebuilds; put into
        // the dataset they would make the file invalid.
        const OFCondition cond = entry.group == 0x0002
                                     ? OFCondition(EC_InvalidTag)
                                     : ds->putAndInsertString(tag, entry.value.toUtf8().constData());
        if (cond.bad()) {
            if (error)
                *error = QStringLiteral("Не удалось записать тег (%1,%2): %3")
                             .arg(hex4(entry.group), hex4(entry.element),
                                  QString::fromLocal8Bit(cond.text()));
            return false;
        }
    }
    // The file is replaced through a temporary sibling, which would succeed on a
    // write-protected file; honour the protection instead.
    const QFileInfo info(filePath);
    const E_TransferSyntax xfer = detail::uncompressedWriteXfer(*ds, quint64(info.size()));
    if (!info.isWritable() || !detail::saveReplacing(*file, filePath, xfer)) {
        if (error)
            *error = QStringLiteral("Не удалось сохранить файл: %1").arg(filePath);
        return false;
    }
    return true;
}

} // namespace dicom
