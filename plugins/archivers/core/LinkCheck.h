#pragma once
// Where a symbolic link made by an extraction really leads: its target followed from the
// link's folder as the kernel would, through every link on the way (those already on disk
// and those the extraction is about to make), not its text alone.
#include <functional>
#include <string>
#include <vector>

namespace arc {

// Says whether rel (a clean path below the destination) is a link, and its target.
using LinkLookup = std::function<bool(const std::string& rel, std::string& target)>;

// True when the link stored at linkRel with this target resolves beneath the destination
// (a dangling end is fine: only what it would reach matters). Absolute targets, ".." above
// the destination and loops are false.
bool LinkStaysInside(const std::string& linkRel, const std::string& target, const LinkLookup& lookup);

// The links on disk below the folder root (a descriptor), read without following them.
bool DiskLink(int root, const std::string& rel, std::string& target);

std::vector<std::string> PathComponents(const std::string& path);

}  // namespace arc
