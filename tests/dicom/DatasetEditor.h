#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class DcmDataset;

namespace velmaris::testing {

// Loads a file with DCMTK, lets the caller change its dataset and saves it back
// in the transfer syntax it was read in. Tests use it to plant values that the
// generator has no option for.
bool editDataset(const QString &path, const std::function<void(DcmDataset &)> &edit);

// The same with assignments in DCMTK's path syntax, as dcmodify takes them:
// "PatientSize=1.75", "ContentSequence[0].ValueType=NUM" (missing items are
// created). An assignment with nothing after "=" removes the element.
bool setValues(const QString &path, const QStringList &assignments);

} // namespace velmaris::testing
