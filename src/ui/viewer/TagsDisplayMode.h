#pragma once

namespace velmaris {

// Whether a panel writes the patient, series, slice and window blocks over
// its image (the viewer's "Данные пациента/серии на снимке" action).
enum class TagsDisplayMode {
    Hidden,
    Shown,
};

} // namespace velmaris
