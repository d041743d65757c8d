#pragma once
// Lists of files on the clipboard and in drag and drop, as the desktop's file
// managers write and read them: text/uri-list (CR LF), and for a cut also
// x-special/gnome-copied-files and application/x-kde-cutselection. Paths are
// bytes; blanks, '%', '#', non-ASCII and non-UTF-8 bytes round-trip.
#include <string>
#include <vector>

class QMimeData;

// A new data object holding the paths; the caller owns it (hand it to the
// clipboard or a drag, which take it over).
QMimeData* MakeFilesMimeData(const std::vector<std::string>& paths, bool cut);
// Local paths of a data object, GNOME's format first, then the URI list;
// cut tells whether they were cut. false when it holds no files. With
// locations, network locations' URIs (sftp://...) come too, for those who
// hand them to GIO; a path given to MakeFilesMimeData as such a URI is kept.
bool ReadFilesMimeData(const QMimeData* data, std::vector<std::string>& paths, bool& cut, bool locations = false);
// The data object holds a list of files (the file-drop format).
bool MimeDataHoldsFiles(const QMimeData* data, bool locations = false);
// file:// URL of a path, percent-encoded byte by byte, and back.
std::string PathToFileUrl(const std::string& path);
bool FileUrlToPath(const std::string& url, std::string& path);
