#pragma once
// The commands the keys run (the key table, KeyTable.cpp, names which key runs
// which). Each receives the window; a list key also the pane it was pressed in.
// Unless it says otherwise a command acts on the current pane, the one whose
// list has the keyboard focus, and does nothing while neither list has it.
//
//   NavigationCommands.cpp  folders, tabs, the filter edit and the trees
//   MenuCommands.cpp        the history, jump, drive, tab and folder menus
//   FileCommands.cpp        copy, move, delete, new folder, rename, undo
//   ProgramCommands.cpp     the editors, run with parameters, the terminal
//   ViewCommands.cpp        the view options and defaults, the key list
//   BarCommands.cpp         adding to the launcher and folder bars
//   PreviewCommands.cpp     the picture and text preview
//   ArchiveCommands.cpp     extracting an archive
//   ArchiveFolderCommands.cpp  entering and leaving archives as folders
//   ArchiveWriteCommands.cpp   copying into and deleting in archives
//   PackCommand.cpp         packing the selection into a new archive
//   BatchCommands.cpp       renaming many, comparing and synchronising the panes
//   GioFolderCommands.cpp   locations listed through GIO: leaving, copying, deleting
//   FuseLocationCommands.cpp  new folder, rename, delete in a location's FUSE path
#include <string>
#include <vector>

class QMenu;
class QString;
class TForm1;
class TPane;
class TShellListView;
class TShellFileItem;

// --- Navigation ---
void GExecute(TForm1& form);         // re-read the folder
void OExecute(TForm1& form);         // the other pane's folder here
void WExecute(TForm1& form);         // into the filter edit
void WWExecute(TForm1& form);        // the mask back to *.*
void TTExecute(TForm1& form);        // close the current tab
void LV1leftExecute(TForm1& form);   // the left tree
void LV2rightExecute(TForm1& form);  // the right tree
void ParentFolderKey(TForm1& form, TPane& pane);
// Enter on a row: an archive goes in, an entry of one opens from the cache.
// False when the row is neither (it opens as usual).
bool OpenArchiveItem(TForm1& form, TShellListView* list, TShellFileItem* item);
// CC, MM, C and M from inside an archive: the selected entries are extracted
// through the library into a staging folder in folder, then moved into place
// with the usual progress, conflict question and undo. False outside archives.
bool TransferOutOfArchive(TForm1& form, TShellListView* list, const std::string& folder);
// Makes a drop of an archive folder's entries on a folder of the disk copy them out (once, at start-up).
void InstallArchiveDropHandler();
// The focused item's file for a preview: inside an archive, a picture or a
// text is taken out into the private cache first.
std::string FocusedPreviewFile(TForm1& form, TShellListView* list);
// Out of an archive's folder to the one above, its row focused; false outside archives.
bool LeaveArchiveFolder(TForm1& form, TPane& pane);
// GioFolderCommands.cpp: out of a location's folder listed through GIO to the
// one above (none above its root); false outside such folders.
bool LeaveLocationFolder(TForm1& form, TPane& pane);
// The commands where either side is such a location, through GIO on a worker
// with the progress window; each false when no location is involved.
// CC, MM, C, M and drops: copies or moves the selection into folder.
bool TransferWithLocation(TForm1& form, TShellListView* list, const std::string& folder, bool move);
bool DeleteInLocation(TForm1& form, TShellListView* list);                         // D
bool MakeLocationFolder(TForm1& form, TShellListView* list, const QString& name);  // K
bool RenameInLocation(TForm1& form, TShellListView* list);                         // R
// Undoes the last copy or move through GIO while nothing else was done since.
bool UndoLocationJob(TForm1& form);
// V at such a location: the focused picture or text, read into a private
// temporary copy (0700, gone with the program); empty when there is none.
std::string LocationPreviewFile(TForm1& form, TShellListView* list);
// Says why a command that takes paths on the disk does nothing there.
bool RefuseOnLocation(TForm1& form, TShellListView* list);
// U at such a location: the focused archive is read into a private temporary
// folder (0700), extracted there as beside it, and what came out is copied up
// beside the archive with the conflict questions; false elsewhere.
bool ExtractOnLocation(TForm1& form, TShellListView* list);
// ArchiveFolderCommands.cpp: the main window a drop goes to (it may come from another program).
TForm1* MainWindow();
// Drops and pastes where a location's URI is the target or among the sources
// go through GIO (installed over the drop handlers before it).
void InstallLocationDropHandler();
// ArchiveCommands.cpp: extracts the archive at path as U does beside it, but
// into folder; the archiver's result (0 when it went well).
int ExtractArchiveInto(TForm1& form, const std::string& path, const std::string& folder);
// FuseLocationCommands.cpp: the same three in a folder of a location's FUSE
// path, through GIO on a worker that Esc stops; false anywhere else.
bool MakeFolderOnFusePath(TForm1& form, TShellListView* list, const QString& name);  // K
bool RenameOnFusePath(TForm1& form, TShellListView* list);                           // R
bool DeleteOnFusePath(TForm1& form, TShellListView* list);                           // D
// R's name dialog for one item of a location; empty when cancelled, unchanged or refused (said why).
QString AskNewItemName(TForm1& form, const QString& old);
// Enter on a file there: what decides how it opens is read aside, Esc gives it up.
bool OpenOnFusePath(TForm1& form, const std::string& path);
// ArchiveWriteCommands.cpp: copies or moves the list's selection into the
// archive folder at folder (a move sends the sources to the trash once the
// archive was written); false when nothing was written.
bool TransferIntoArchive(TForm1& form, TShellListView* list, const std::string& folder, bool move);
// The same for names of one folder of the disk (files dropped on an archive's folder).
bool AddIntoArchive(TForm1& form, const std::string& sourceFolder, std::vector<std::string> names,
                    const std::string& folder, bool move, TShellListView* sourceList = nullptr);
// D in an archive folder: deletes the selected entries after the question;
// false when the list shows no archive folder.
bool DeleteInArchive(TForm1& form, TShellListView* list);
// PackCommand.cpp: packs the selection into a new archive in the other pane.
void PackKey(TForm1& form, TPane& pane);
void AddPackEntry(TForm1& form, QMenu* menu);
void RootFolderKey(TForm1& form, TPane& pane);
void CommaKey(TForm1& form, TPane& pane);
void PeriodKey(TForm1& form, TPane& pane);
void NewTabKey(TForm1& form, TPane& pane);

// --- Menus ---
void HExecute(TForm1& form);   // folder history
void HHExecute(TForm1& form);  // file history
void JExecute(TForm1& form);   // folder jump (the folder bar)
void NExecute(TForm1& form);   // drive list
void TExecute(TForm1& form);   // tab list
void LExecute(TForm1& form);   // folder menu of the focused item

// --- Files ---
void CExecute(TForm1& form);
void CCExecute(TForm1& form);
void MExecute(TForm1& form);
void MMExecute(TForm1& form);
void DExecute(TForm1& form);
void DDExecute(TForm1& form);
void KExecute(TForm1& form);
void RExecute(TForm1& form);
void UndoKey(TForm1& form, TPane& pane);

// --- External programs ---
void BExecute(TForm1& form);
void EExecute(TForm1& form);
void EEExecute(TForm1& form);
void XExecute(TForm1& form);
void TerminalKey(TForm1& form, TPane& pane);

// --- View ---
void SExecute(TForm1& form);
void SSExecute(TForm1& form);
void KeyTableKey(TForm1& form, TPane& pane);

// --- Bars ---
void QExecute(TForm1& form);
void FExecute(TForm1& form);

// --- Preview and archive ---
void VExecute(TForm1& form);
void VVExecute(TForm1& form);
void UExecute(TForm1& form);

// --- Many files, both panes ---
void RenameManyKey(TForm1& form, TPane& pane);  // rename the selection by a pattern
void CompareKey(TForm1& form, TPane& pane);     // select what is new or newer on each side
void SyncKey(TForm1& form, TPane& pane);        // copy across what differs, as planned

// --- Find files (SearchCommand.cpp) ---
void FindFilesKey(TForm1& form, TPane& pane);   // the search dialog
void StopSearchKey(TForm1& form, TPane& pane);  // Esc: stop the search of the results shown
