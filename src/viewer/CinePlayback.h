#pragma once

// Cine: the active panel pages by itself at a rate in frames per second.
namespace render {

inline constexpr int cineMinRate = 1;
inline constexpr int cineMaxRate = 60;
inline constexpr int cineDefaultRate = 10;

// 1000 ÷ rate in whole milliseconds (60 → 16, 7 → 142); rates below 1
// count as 1.
int cineIntervalMs(int rate);

// The slice after `index`, wrapping from the last to the first; a series of
// one slice (or none) stays where it is.
int nextCineSlice(int index, int count);

} // namespace render
