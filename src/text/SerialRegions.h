#pragma once
// The recognition engine's OpenMP parallel regions, run on the calling thread instead of through the
// OpenMP runtime, which pays a system call at the end of every region even on a team of one thread.

namespace TextVision::SerialRegions {

// Points the engine library's imports of the runtime's region entries at stand-ins that run a
// region outside any team directly; false where that cannot be done safely, and then nothing is
// changed. Called once, before the first engine is made.
bool install();

} // namespace TextVision::SerialRegions
