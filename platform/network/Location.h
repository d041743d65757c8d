#pragma once
// Network locations (sftp://, smb://, dav://, ...) through the desktop's GIO
// and its GVfs backends: telling a location from a path, mounting it with our
// questions, and going between its URI and the path of its FUSE mount, which
// the folders and the file engine below already handle. The panes, tabs,
// histories and state files keep the URI; only the namespace sees the path.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/namespace/IDList.h"

namespace network {

// "scheme://..." with a scheme other than file.
bool IsLocationUri(std::string_view text);
// The scheme in lower case ("sftp"), empty for anything that is no URI.
std::string SchemeOf(std::string_view uri);
// Whether this machine's GIO has a backend for the scheme.
bool SchemeSupported(const std::string& scheme);
// The Debian package that brings a scheme's backend.
std::string PackageForScheme(const std::string& scheme);

// The path of the location in the FUSE mount of GVfs; empty when it is not
// mounted or there is no FUSE mount.
std::string LocalPathOf(const std::string& uri);
// The same once the FUSE side sees a fresh mount, which it learns of a moment
// after GIO (up to three seconds, or until cancel); stats the path, so run it
// off the window's thread.
std::string ReachableLocalPath(const std::string& uri, const std::atomic<bool>* cancel = nullptr);
// Whether the location's server is mounted in GVfs (with or without FUSE).
bool IsMounted(const std::string& uri);
// Whether path lies inside the FUSE mount of GVfs, where every call may wait
// on a server (a test of the text alone).
bool InFuseMount(const std::string& path);
// The URI of a path inside the FUSE mount of GVfs; empty for any other path
// and for one whose server is no longer mounted.
std::string UriOfLocalPath(const std::string& path);
// What a pane shows and remembers for a folder: the URI for a path in the
// FUSE mount, the path itself otherwise.
std::string ShownLocation(const std::string& path);
// The folder of the GVfs FUSE mount ($XDG_RUNTIME_DIR/gvfs); empty without a runtime folder.
std::string FuseRoot();

// What a backend asks while mounting.
struct PasswordRequest {
  std::string message;
  std::string user;
  std::string domain;
  bool needUser = false;
  bool needDomain = false;
  bool needPassword = false;
  bool canRemember = false;
  bool anonymousAllowed = false;
};

struct PasswordAnswer {
  std::string user;
  std::string domain;
  std::string password;
  bool remember = false;  // kept in the desktop's keyring by GVfs
  bool anonymous = false;
};

// Answers a mount's questions; called on the thread that mounts.
class MountQuestions {
 public:
  virtual ~MountQuestions() = default;
  // False cancels the mount.
  virtual bool AskPassword(const PasswordRequest& request, PasswordAnswer& answer) = 0;
  // The choice taken, -1 cancels.
  virtual int AskChoice(const std::string& message, const std::vector<std::string>& choices) = 0;
  // A server whose key is not known yet (the first login): true logs in,
  // and the key is remembered. fingerprint: "SHA256:..." as ssh shows it.
  virtual bool AcceptHostKey(const std::string& uri, const std::string& fingerprint, const std::string& message) = 0;
};

struct MountResult {
  bool ok = false;
  bool cancelled = false;  // by the user: nothing to report
  std::string message;     // why not, in Japanese
};

// Mounts the server of uri through GIO and waits for the end; a mounted one is
// fine at once. Run off the window's thread: the questions may be asked meanwhile.
// cancel (may be null) stops the mount when it turns true.
MountResult MountLocation(const std::string& uri, MountQuestions& questions, const std::atomic<bool>* cancel = nullptr);
// Unmounts the server of uri; false with a message when it could not.
bool UnmountLocation(const std::string& uri, std::string* message = nullptr);

// One entry of a location's folder, as GIO lists it in batches (names and
// their data in one answer, where the FUSE path costs a round trip per stat).
struct RemoteEntry {
  std::string name;
  bool folder = false;  // a folder, or a link to one
  bool link = false;
  uint64_t size = 0;
  int64_t mtimeSeconds = 0;
  uint32_t mtimeNanoseconds = 0;
  uint32_t mode = 0;  // st_mode; made up from the type when the backend gives none
};
// The FileEntry ID of an entry with its data, null when flags (SHCONTF_*) leave it out.
PItemIDList RemoteEntryID(const RemoteEntry& entry, uint32_t flags);
enum class ListResult { Listed, Stopped, Failed };
// Lists the folder uri in batches, handing each entry to take (false ends
// the listing); stop (may be null) turning true ends it within a moment,
// whatever the server does.
ListResult ListLocation(const std::string& uri, const std::function<bool(const RemoteEntry&)>& take,
                        const std::atomic<bool>* stop = nullptr);

// What the server says of uri, asked through GIO (never the FUSE path, whose
// calls a stalled server holds); stop ends the question early (found false).
struct LocationFacts {
  bool found = false;
  bool folder = false;
  // The modification time as text ("seconds.microseconds"): a light poll of
  // a shown folder compares it, where the backend has no change monitor.
  std::string stamp;
  // Why not, in Japanese, when found is false and the question was not stopped.
  std::string message;
  // The free space of the server's file system, when asked for and told.
  bool freeKnown = false;
  uint64_t freeBytes = 0;
};
LocationFacts QueryLocation(const std::string& uri, const std::atomic<bool>* stop = nullptr,
                            bool withFreeSpace = false);

// Copies the file from to the new file to, where either is inside the FUSE
// mount of GVfs, through GIO (g_file_copy): its backends move the data in
// streams of their own, where the FUSE path costs a round trip per block.
// -1 when neither path is a location's; else 0 or an errno. progress gets
// the bytes copied so far; cancel turning true stops it (ECANCELED).
int CopyThroughGio(const std::string& from, const std::string& to, const std::atomic<bool>& cancel,
                   const std::function<void(uint64_t)>& progress);

// Makes the folders of the FUSE paths of GVfs list through GIO (see
// SetFolderLister); InstallPlatformUi calls it.
void InstallFolderLister();

// The locations the desktop knows: the user's GTK bookmarks of network
// locations and the mounts GIO reports.
struct KnownLocation {
  std::string uri;
  std::string name;
};
std::vector<KnownLocation> KnownLocations();

// The Japanese sentence for a location that cannot be opened, the reason appended.
std::string UnsupportedSchemeText(const std::string& uri);
std::string NoFusePathText(const std::string& uri);

}  // namespace network
