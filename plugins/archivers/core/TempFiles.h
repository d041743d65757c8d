#pragma once
// The temporary names entries are written under before they are renamed into place, and
// the removal of those a killed extraction left behind.
#include <string>

namespace arc {

// ".tvx-<process>-<counter>-<hex>", unique in the process.
std::string TempName();

// Removes what an extraction killed on the way left in this folder (a descriptor): only
// regular files of our naming and owner, untouched for a minute, whose process is gone; the
// name itself is removed, never what a link points to.
void SweepStaleTemps(int dirFd);

}  // namespace arc
