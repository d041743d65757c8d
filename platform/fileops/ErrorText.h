#pragma once
// The system's reason for a failure, in Japanese, for the error dialogs.
#include <string>

std::string SystemErrorText(int error);
