#pragma once
// Where the program keeps its state (the INI file and the log/ folder of
// line lists): $TOLVANE_HOME when set; else beside the executable, as a
// portable installation does, when that folder can be written and the program
// is not installed (no ../lib/tolvane beside it); else
// $XDG_CONFIG_HOME/tolvane (~/.config/tolvane), created when missing.
#include <string>

// Without a trailing '/'. Looked up on every call, so a changed environment counts.
std::string StateFolder();
// StateFolder() + "/tolvane.ini".
std::string IniFilePath();
// StateFolder() + "/log".
std::string LogFolder();
