#pragma once

namespace render {

// The orthogonal plane a panel reslices its volume along.
enum class ReconstructionPlane { Axial, Coronal, Sagittal };

} // namespace render
