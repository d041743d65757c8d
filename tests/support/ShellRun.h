#pragma once
// Runs a shell command line in a folder, quietly: the archivers tests use to
// make their inputs (zip, bsdtar, 7z) are real programs, not our own code.
#include <cstdlib>
#include <string>

inline bool RunIn(const std::string& dir, const std::string& cmd) {
  return std::system(("cd '" + dir + "' && { " + cmd + " ; } >/dev/null 2>&1").c_str()) == 0;
}
