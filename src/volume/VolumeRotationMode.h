#pragma once

namespace render {

// What a left drag does in the 3D views: turn the camera in azimuth and
// elevation, or turn the picture about the view axis like a clock hand.
enum class VolumeRotationMode { Free = 0, InPlane = 1 };

} // namespace render
