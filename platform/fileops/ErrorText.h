#pragma once
// The system's reason for a failure, in Japanese, for the error dialogs.
#include <string>

std::string SystemErrorText(int error);

// Why a rename to newName failed with error: the text shown to the user.
std::string RenameErrorText(const std::string& newName, int error);

// Not an errno: another program changed the file while the engine worked on it.
constexpr int kErrorChangedMeanwhile = 0x10000;
// Not an errno: a moved file under its final name could not be confirmed
// as a whole copy of its source, so the source stays.
constexpr int kErrorNotConfirmed = 0x10001;
