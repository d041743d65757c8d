#pragma once
// The test data kept in the repository (tests/data), so a fresh clone runs every test.
// TOLVANE_TEST_DATA is set for the executables that read it (tests/CMakeLists.txt).
#include <string>

// A real archive of another system, from tests/data/archives (its README lists the entries).
inline std::string TestArchive(const std::string& name) { return std::string(TOLVANE_TEST_DATA) + "/archives/" + name; }
