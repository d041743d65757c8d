#pragma once
// Opening files with the desktop's applications: the applications that
// declare a MIME type (mimeapps.list, mimeinfo.cache or the .desktop files of
// the XDG data folders), their Exec lines expanded for the files, and a small
// chooser (platform/ui/OpenWithDialog.h). Programs start detached, each argument passed as raw bytes, so
// names that are not UTF-8 reach the program intact; nothing goes through a
// shell.
#include <QString>
#include <string>
#include <vector>

struct DesktopApplication {
  std::string id;    // the desktop file ID, "org.gnome.TextEditor.desktop"
  std::string file;  // where its .desktop file lies
  QString name;      // in Japanese when the entry has it
  std::string exec;  // the Exec line, unescaped
  std::string icon;
  std::string workingFolder;  // Path=
  bool terminal = false;
};

// The MIME type of a path by its name ("inode/directory" for a folder).
std::string MimeTypeOfPath(const std::string& path);
// The applications for a MIME type, the user's default first, then those for
// the type's ancestors (text/plain for source code).
std::vector<DesktopApplication> ApplicationsForMimeType(const std::string& mimeType);
// The applications that take every one of the paths.
std::vector<DesktopApplication> ApplicationsForPaths(const std::vector<std::string>& paths);
// Splits an Exec line into arguments (the desktop entry quoting rules).
std::vector<std::string> SplitExecLine(const std::string& exec);
// The command lines that open the paths: one for all with %F or %U, one per
// path with %f or %u; the paths are appended when the line names none.
std::vector<std::vector<std::string>> ExpandExecLine(const DesktopApplication& app,
                                                     const std::vector<std::string>& paths);
// Every application of the XDG data folders that takes files, by name: what
// the chooser offers when none declares a file's type.
std::vector<DesktopApplication> ApplicationsTakingFiles();
// Starts the application for the paths; false when a program could not start.
bool LaunchApplication(const DesktopApplication& app, const std::vector<std::string>& paths);

// Starts a program detached (it outlives us and is never waited for), in
// workingFolder when that is not empty; argv[0] is looked up in PATH unless it
// holds a '/'. false when it could not be executed.
bool StartDetachedProgram(const std::vector<std::string>& argv, const std::string& workingFolder = {});
// Opens a document with the desktop's default application, handing it a
// byte-exact file URL (a name that is not UTF-8 stays whole).
bool OpenWithDefaultApplication(const std::string& path);

// Opens a file as a double click does. A document whose type no application
// declares is not handed to the desktop (which would say so only on standard
// error, or open it in whatever program comes last): the answer is then
// kNoApplication and nothing starts. When the desktop cannot open it, the
// first application for its type is started directly.
enum class OpenResult { kOpened, kNoApplication, kFailed };
OpenResult OpenDocument(const std::string& path);
// What OpenDocument decides by: neither a folder nor a program (may wait on
// the file's file system).
bool IsDocument(const std::string& path);
