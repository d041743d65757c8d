#pragma once
// Run-time loading of shared libraries. A library asked for by its Windows
// name ("UNLHA32.DLL") is the shared object of the same stem with ".so":
// first beside the executable, then in ../lib/tolvane (an installed program),
// then wherever the dynamic loader looks.
#include <string>
#include <vector>

using HMODULE = void*;

// Null when the library cannot be found or loaded. A name without '/' is
// looked up as described above (also in lower case); a name with '/' is
// loaded as given, or with ".dll" replaced by ".so" when that file is missing.
HMODULE LoadLibrary(const std::string& name);
void* GetProcAddress(HMODULE module, const char* symbol);
bool FreeLibrary(HMODULE module);
// The loader's last error text, for diagnostics.
std::string LibraryError();

// Full path of a file found in the given folders (separated by ':'), or, when
// folders is empty, in the executable's folder, the current folder and $PATH.
// extension (".exe", say) is appended when fileName has no extension of its
// own. Empty when not found.
std::string SearchPath(const std::string& folders, const std::string& fileName, const std::string& extension = "");

// The folder of the running executable, without a trailing '/'.
std::string ExecutableFolder();

// ../lib/tolvane next to the executable's folder when it exists (the program
// is installed, not run from a portable folder), else empty.
std::string InstalledLibraryFolder();
// Where the program's libraries and plug-ins (spi/) live: the installed
// library folder, else the executable's folder.
std::string RuntimeFolder();
// The shared libraries (*.so) and plug-ins (*.spi) below folder that the
// process has mapped now, as the kernel lists them; each once.
std::vector<std::string> LoadedLibrariesIn(const std::string& folder);
