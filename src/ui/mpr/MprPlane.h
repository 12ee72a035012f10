#pragma once

#include <QMetaType>

namespace velmaris {

// The three planes of the MPR window, in the order of its plane selectors.
enum class MprPlane { Axial = 0, Coronal = 1, Sagittal = 2 };

} // namespace velmaris

Q_DECLARE_METATYPE(velmaris::MprPlane)
