#pragma once
// The system's reason for a failure, in Japanese, for the error dialogs.
#include <string>

std::string SystemErrorText(int error);

// Not an errno: another program changed the file while the engine worked on it.
constexpr int kErrorChangedMeanwhile = 0x10000;
