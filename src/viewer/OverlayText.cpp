#include "viewer/OverlayText.h"

#include "dicom/DicomText.h"
#include "viewer/SlicePlane.h"

#include <QDate>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace render {

namespace {

const QString partSeparator = QStringLiteral("  ·  ");

QString lateralityText(const QString &laterality)
{
    if (laterality == QLatin1String("LEFT"))
        return QStringLiteral("Сторона: Левая");
    if (laterality == QLatin1String("RIGHT"))
        return QStringLiteral("Сторона: Правая");
    return QStringLiteral("Сторона: %1").arg(laterality);
}

QString orDescriptionPlaceholder(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("(без описания)") : text;
}

QString planeName(ReconstructionPlane plane)
{
    switch (plane) {
    case ReconstructionPlane::Axial:
        return QStringLiteral("Axial");
    case ReconstructionPlane::Coronal:
        return QStringLiteral("Coronal");
    case ReconstructionPlane::Sagittal:
        return QStringLiteral("Sagittal");
    }
    return QString();
}

QString slabModeName(SlabMode mode)
{
    switch (mode) {
    case SlabMode::Mip:
        return QStringLiteral("MIP");
    case SlabMode::MinIp:
        return QStringLiteral("MinIP");
    case SlabMode::Mean:
        return QStringLiteral("Среднее");
    case SlabMode::Thin:
        break;
    }
    return QString();
}

} // namespace

QString patientOverlayText(const QString &patientName, const QString &patientId, const QString &studyDate,
                           const QString &studyTime)
{
    const QString shownName = dicom::displayPersonName(patientName);
    const QString name = shownName.isEmpty() ? QStringLiteral("(без имени)") : shownName;
    const QString dateLine = QStringLiteral("%1  %2").arg(dicom::displayDicomDate(studyDate), dicom::displayDicomTime(studyTime));
    return QStringLiteral("%1\nID: %2\n%3").arg(name, patientId, dateLine);
}

QString seriesOverlayText(const SeriesOverlayInfo &info)
{
    QString extra;
    if (!info.bodyPart.isEmpty())
        extra += partSeparator + info.bodyPart;
    if (!info.laterality.isEmpty())
        extra += partSeparator + lateralityText(info.laterality);
    return QStringLiteral("%1\n%2\nСерия %3 · %4%5")
        .arg(orDescriptionPlaceholder(info.studyDescription), orDescriptionPlaceholder(info.seriesDescription),
             info.seriesNumber, info.modality, extra);
}

QString sliceOverlayText(int sliceIndex, int sliceCount, double sliceThickness, double sliceLocation,
                         double calibrationMmPerPixel)
{
    QString details;
    if (sliceThickness > 0.0)
        details += QStringLiteral("Толщина: %1 мм  ").arg(sliceThickness, 0, 'f', 1);
    details += QStringLiteral("Позиция: %1 мм").arg(sliceLocation, 0, 'f', 1);
    if (calibrationMmPerPixel > 0.0)
        details += QStringLiteral("\nКалибровка: %1 мм/пикс").arg(calibrationMmPerPixel, 0, 'f', 4);
    return QStringLiteral("Срез %1 / %2\n%3").arg(sliceIndex + 1).arg(sliceCount).arg(details);
}

double overlaySlicePosition(const QList<db::SliceRef> &series, int index)
{
    if (index < 0 || index >= series.size())
        return 0.0;
    const bool locationsStored = std::any_of(series.cbegin(), series.cend(),
                                             [](const db::SliceRef &slice) { return slice.slice_location != 0.0; });
    if (locationsStored)
        return series.at(index).slice_location;
    return positionAlongNormal(sliceGeometry(series.at(index))).value_or(0.0);
}

QString windowOverlayText(const WindowLevel &window, double repetitionTime, double echoTime)
{
    // std::lround rounds halves away from zero: −600.5 shows as −601.
    QString timing;
    if (repetitionTime > 0.0 || echoTime > 0.0) {
        timing = QStringLiteral("TR: %1  TE: %2")
                     .arg(repetitionTime, 0, 'f', 0)
                     .arg(echoTime, 0, 'f', 1);
    }
    return QStringLiteral("WL: %1  WW: %2\n%3")
        .arg(std::lround(window.centre))
        .arg(std::lround(window.width))
        .arg(timing);
}

QString reconstructionOverlayText(ReconstructionPlane plane, SlabMode slabMode, double slabThicknessMm,
                                  int sliceIndex, int sliceCount)
{
    QString slab;
    if (slabMode != SlabMode::Thin && slabThicknessMm > 0.0)
        slab = QStringLiteral(" (%1, %2 мм)").arg(slabModeName(slabMode)).arg(slabThicknessMm);
    return QStringLiteral("Реконструкция: %1%2\nСрез %3 / %4")
        .arg(planeName(plane), slab)
        .arg(sliceIndex + 1)
        .arg(sliceCount);
}

} // namespace render
