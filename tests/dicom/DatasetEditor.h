#pragma once

#include <QString>

#include <functional>

class DcmDataset;

namespace velmaris::testing {

// Loads a file with DCMTK, lets the caller change its dataset and saves it back
// in the transfer syntax it was read in. Tests use it to plant values that the
// generator has no option for.
bool editDataset(const QString &path, const std::function<void(DcmDataset &)> &edit);

} // namespace velmaris::testing
