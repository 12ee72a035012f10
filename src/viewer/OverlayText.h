#pragma once

#include "db/SliceRef.h"
#include "viewer/ReconstructionPlane.h"
#include "viewer/SlabMode.h"
#include "viewer/WindowLevel.h"

#include <QList>
#include <QString>

namespace render {

// What the study/series corner of a panel shows.
struct SeriesOverlayInfo
{
    QString studyDescription;
    QString seriesDescription;
    QString seriesNumber;
    QString modality;
    QString bodyPart;
    QString laterality; // as stored: "LEFT", "RIGHT", "L", "R" or empty
};

// Name (or "(без имени)"), "ID: …" and a date line "<date>  <time>"; the
// stored DICOM name is shown with blanks for its "^", a date stored as
// yyyyMMdd as dd.MM.yyyy (anything else as stored) and a time as HH:mm:ss.
QString patientOverlayText(const QString &patientName, const QString &patientId, const QString &studyDate,
                           const QString &studyTime);

// Study and series descriptions, then "Серия <n> · <modality>" followed by
// the body part and the laterality when present.
QString seriesOverlayText(const SeriesOverlayInfo &info);

// "Срез i / n" and the thickness/position line; the hand calibration (mm per
// pixel) adds a line when it is positive.
QString sliceOverlayText(int sliceIndex, int sliceCount, double sliceThickness, double sliceLocation,
                         double calibrationMmPerPixel);

// The position that line shows for slice `index` of `series`: its Slice
// Location, or, in a series that carries none (the index stores an absent
// one as 0, so every row reads 0), where the slice lies along its normal by
// Image Position (Patient). 0 when neither is known.
double overlaySlicePosition(const QList<db::SliceRef> &series, int index);

// "WL: c  WW: w" rounded half away from zero, then TR/TE when either is known
// (an empty line otherwise, so the block keeps its height).
QString windowOverlayText(const WindowLevel &window, double repetitionTime, double echoTime);

// The slice corner of a panel that shows a reconstruction; the slab appears
// only when it is thick (a folding mode and a positive thickness).
QString reconstructionOverlayText(ReconstructionPlane plane, SlabMode slabMode, double slabThicknessMm,
                                  int sliceIndex, int sliceCount);

} // namespace render
