#pragma once
// platform/fileops: stands in for the shell's file operation and the recycle bin,
// with the undo journal and links. Uses system, state and namespace; no
// widgets: it touches the GUI only through IFileOperationUI, whose real side
// (FileOperationDialogs) the ui layer provides.
//
// The file-operation engine: copy, move, delete (to the recycle bin or for
// good) and rename, with confirmations, conflicts, progress and errors asked
// of one UI interface, an undo journal, and nothing ever lost.
//
// A job's states:
//   Created -> Checking (sources exist, no folder into itself; nothing touched)
//           -> Counting (items and bytes, for the progress)
//           -> Running (item by item; each item is either done whole or not at all)
//           -> Done | Cancelled | Failed
// Cancel is honoured at the next safe point: between items, and between the
// blocks of a large file (whose partial copy is then removed).
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QWidget;

// Functions (FO_*).
constexpr uint32_t FO_MOVE = 0x1;
constexpr uint32_t FO_COPY = 0x2;
constexpr uint32_t FO_DELETE = 0x3;
constexpr uint32_t FO_RENAME = 0x4;
// Not a function of the call: the progress of emptying the recycle bin.
constexpr uint32_t FO_EMPTYRECYCLEBIN = 0x10;

// Flags (FOF_*).
constexpr uint32_t FOF_SILENT = 0x4;             // no progress dialog
constexpr uint32_t FOF_RENAMEONCOLLISION = 0x8;  // a conflict gets a new name instead of a question
constexpr uint32_t FOF_NOCONFIRMATION = 0x10;    // "yes to all" to every question
constexpr uint32_t FOF_ALLOWUNDO = 0x40;         // delete to the recycle bin; record for undo
constexpr uint32_t FOF_NOERRORUI = 0x400;        // errors skip nothing: they end the job, unasked

// Result codes besides 0.
constexpr int FO_ERROR_CANCELLED = 1223;  // the user cancelled
constexpr int FO_ERROR_FAILED = 1;        // at least one item failed or was skipped after an error
constexpr int FO_ERROR_BAD_REQUEST = 87;  // bad arguments or a folder into itself; nothing touched

// The shell's call: pFrom is a NUL-separated list ended by one more NUL (a
// single path without the extra NUL is accepted too); pTo is the destination
// folder (copy, move) or the new path or name (rename).
struct SHFILEOPSTRUCT {
  QWidget* hwnd = nullptr;
  uint32_t wFunc = 0;
  std::string pFrom;
  std::string pTo;
  uint32_t fFlags = 0;
  bool fAnyOperationsAborted = false;
};
int SHFileOperation(SHFILEOPSTRUCT& op);
// Splits a NUL-separated list; also a single path.
std::vector<std::string> SplitNulList(const std::string& list);

// --- What the engine asks of its user -----------------------------------------

enum class ConflictAnswer { Yes, YesToAll, No, NoToAll, Cancel };
enum class ErrorAnswer { Retry, Skip, Cancel };

struct FileFacts {
  std::string path;
  uint64_t size = 0;
  int64_t mtime = 0;  // seconds since 1970
  bool folder = false;
};

struct FileOperationProgress {
  uint32_t function = 0;
  std::string currentFile;
  uint64_t itemsDone = 0, itemsTotal = 0;
  uint64_t bytesDone = 0, bytesTotal = 0;
  double secondsElapsed = 0;
  double secondsLeft = -1;  // -1 while unknown
  // Before the items are counted, each source is looked up: how many so far
  // of how many. A job of many sources shows its progress from the start.
  bool preparing = false;
  uint64_t sourcesChecked = 0, sourcesTotal = 0;
};

// The questions run on the engine's worker thread; the real implementation
// answers them with dialogs on the GUI thread (through the synchronised call),
// tests answer them directly. Progress calls run on the GUI thread.
class IFileOperationUI {
 public:
  virtual ~IFileOperationUI() = default;
  // Before a delete starts: count items, first one named. permanent: no undo.
  virtual bool ConfirmDelete(const std::vector<std::string>& paths, bool permanent) = 0;
  // An item that cannot go to any recycle bin: delete it for good instead?
  virtual bool ConfirmPermanentDelete(const std::string& path) = 0;
  // The same, saying why (a full disk, say); empty when no reason is known.
  virtual bool ConfirmPermanentDeleteBecause(const std::string& path, const std::string& why) {
    return ConfirmPermanentDelete(path);
  }
  // A file or folder would replace another.
  virtual ConflictAnswer AskReplace(const FileFacts& existing, const FileFacts& incoming) = 0;
  // An operation on path failed with errno error; action says what was tried.
  virtual ErrorAnswer AskError(const std::string& path, const std::string& action, int error) = 0;
  // Something the user should know, no answer (a special file skipped, a
  // folder into itself refused).
  virtual void ShowMessage(const std::string& text) = 0;
  // Emptying the recycle bin: count items.
  virtual bool ConfirmEmptyTrash(uint64_t items) = 0;

  // GUI thread, about ten times a second at most.
  virtual void ProgressStarted(const FileOperationProgress&) {}
  virtual void ProgressChanged(const FileOperationProgress&) {}
  virtual void ProgressFinished() {}
  // GUI thread: the cancel button was pressed since the last call.
  virtual bool CancelRequested() { return false; }
};

// The UI for operations owned by a window: the provider's (the ui layer
// installs the Qt dialogs at start-up, InstallPlatformUi); null without one.
IFileOperationUI* DefaultFileOperationUI(QWidget* owner);
using FileOperationUIProvider = std::function<IFileOperationUI*(QWidget* owner)>;
void SetFileOperationUIProvider(FileOperationUIProvider provider);
// Tests replace the default UI (null restores the dialogs).
void SetFileOperationUIOverride(IFileOperationUI* ui);
// What keeps the windows from taking input while a job runs under the GUI
// thread's event loop; the scope it returns lasts the job. Installed by the
// ui layer; without it the windows are left alone.
using InputBlockScope = std::function<std::shared_ptr<void>()>;
void SetFileOperationInputBlocker(InputBlockScope blocker);

// --- The engine ----------------------------------------------------------------

struct FileOperationRequest {
  uint32_t function = FO_COPY;
  std::vector<std::string> sources;
  // More sources, all in one folder: the names one after another, each ended
  // by NUL. A million selected files cost one block, not a million paths.
  std::string sourceFolder;
  std::string sourceNames;
  std::string destination;
  uint32_t flags = 0;
  QWidget* owner = nullptr;
};

struct FileOperationResult {
  int code = 0;          // 0 success, else one of FO_ERROR_*
  bool aborted = false;  // the user cancelled or declined something
};

// Runs a request on a worker thread and waits for it, keeping the GUI thread's
// events flowing (a progress dialog shows after about half a second, at once
// for 10,000 sources or more). Without a GUI application it runs on the
// calling thread.
FileOperationResult RunFileOperation(FileOperationRequest request, IFileOperationUI* ui = nullptr);

// A job of another kind reported as the engine's are: run takes the UI its
// questions go to (timed, so waiting for an answer is no working time) and
// runs on a worker; progress and cancel are called from the GUI thread, the
// progress window showing as the engine's does. Without a GUI application,
// or off its thread, run runs here without a window.
struct ReportedWork {
  std::function<FileOperationResult(IFileOperationUI*)> run;
  std::function<FileOperationProgress()> progress;
  std::function<void()> cancel;
};
FileOperationResult RunReportedWork(const ReportedWork& work, IFileOperationUI* ui);

// Empties every recycle bin of this user on the mounted file systems, after
// ConfirmEmptyTrash. The stand-in for SHEmptyRecycleBin; 0 on success.
int EmptyRecycleBin(IFileOperationUI* ui = nullptr);

// --- The undo journal ----------------------------------------------------------

// What one item of an operation left behind, to undo it later only when it
// is still as it was left.
struct UndoItem {
  std::string from;       // where it was before
  std::string to;         // where it is now (the copy, the moved item, the trashed file)
  std::string trashInfo;  // trash: the .trashinfo file
  uint64_t size = 0;      // of `to` when left (files; 0 for folders)
  int64_t mtimeNs = 0;    // of `to` when left
  bool folder = false;
  // Identity of `to` as stat saw it right after it was written (ino 0:
  // unknown); someone else's edit, even one that sets the time back, shows.
  uint64_t dev = 0, ino = 0;
  int64_t ctimeNs = 0;
  // A copied folder: everything the engine wrote inside it (`to` full
  // paths), so that undoing removes nothing that came later.
  std::vector<UndoItem> inside;
};

struct UndoRecord {
  enum Kind { Copy, Move, Trash, Rename } kind = Copy;
  std::vector<UndoItem> items;
  // Records of one step share a non-zero number and are undone together
  // (a synchronisation's trashed old files and its copies); label names it.
  uint64_t step = 0;
  std::string label;
  // When it was recorded (set by Record): anything inside a copied folder
  // changed later is someone's new work, which undoing must not remove.
  int64_t recordedAtNs = 0;
  // Japanese, for the menu entry "元に戻す": e.g. "コピー (3 項目)".
  std::string Description() const;
};

class FileOperationJournal {
 public:
  static FileOperationJournal& Instance();
  // Called by the engine after a successful operation made with FOF_ALLOWUNDO.
  void Record(UndoRecord record);
  // How many records were ever made; JoinSince(Mark()) later makes what was
  // recorded meanwhile one undo step (records of one kind merged).
  uint64_t Mark() const;
  void JoinSince(uint64_t mark, const std::string& label);
  bool CanUndo() const;
  // The newest undoable operation's description; empty when none.
  std::string NewestDescription() const;
  // Undoes the newest operation when its files are still as it left them;
  // otherwise refuses with a message through ui and keeps the record.
  // 0 on success.
  int UndoLast(IFileOperationUI* ui = nullptr);
  void Clear();
  // Keeps the journal in path from now on (written at every change), after
  // reading what it holds, so that undo outlives the program; the records
  // carry identities, and the same checks apply after a restart. Empty:
  // in memory only.
  void UseFile(const std::string& path);

 private:
  void SaveLocked();

  mutable std::mutex lock_;
  std::vector<UndoRecord> records_;
  std::string file_;
  uint64_t recorded_ = 0;
};
