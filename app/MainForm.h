#pragma once
// The main window: two folder panes side by side (TPane, Pane.h), each a row
// of folder tabs over a filter edit and a folder list, with a folder tree that
// slides in beside it; the launcher and folder bars above; one-letter commands,
// whose handlers live in commands/ and receive the window.
//
// The window owns its panes, bars, preview controls, timers and components;
// the rest of its state sits in small groups (WindowParts.h): Preview, Menus,
// Hooks and Life. The names the window's design gives the panes' parts, the
// menus and the preview lists stay as references into those objects.
//
// The members are spread over several files by subject:
//   MainFormCreate.cpp    controls, layout, action lists, event wiring, the pane lookup
//   MainFormState.cpp     start-up and shut-down, the INI file, the line lists
//   MainFormKeys.cpp      the shortcut hook, single and double key dispatch, the trees
//   MainFormTabs.cpp      tabs, histories, the pane filter, history menus
//   MainFormFolderMenu.cpp the folder menu
//   MainFormToolbars.cpp  the launcher and folder bars
//   MainFormFiles.cpp     the shared file helpers of the commands
//   MainFormPreview.cpp   the picture and text preview in place of a pane
//   MainFormArchive.cpp   the archiver component
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QDialog>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Pane.h"
#include "app/PreviewPicture.h"
#include "app/WindowParts.h"
#include "platform/state/LineList.h"
#include "shell/ShellListView.h"
#include "shell/ShellPopupMenu.h"
#include "shell/ShellTreeView.h"
#include "shell/actions/ActionDispatch.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QSplitter;
class QSplitterHandle;
class QTabBar;
class QToolBar;
class QToolButton;
class TIniFile;
class TArchiveFile;
class TSPI;
class TSPIs;
class TTextView;
struct ArcWindow;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // --- Controls (owned through Qt parents) ---
  QWidget* CoolBar1;
  QToolBar* ToolBar1;  // launcher bar
  QToolBar* ToolBar2;  // folder bar
  QSplitter* Panes;    // TV1 | TC1 pane | TC2 pane | TV2; its handles are the splitters
  // The two sides, each with its tabs, filter edit, list, status line and tree.
  TPane Left{TPane::kLeft};
  TPane Right{TPane::kRight};
  // The sides' parts by the names the window's design gives them.
  TShellTreeView*& TV1 = Left.Tree;
  TShellTreeView*& TV2 = Right.Tree;
  QWidget*& TC1Pane = Left.Widget;  // the pane under TC1: Edit1, LV1, Image1, Memo1
  QWidget*& TC2Pane = Right.Widget;
  QTabBar*& TC1 = Left.Tabs;
  QTabBar*& TC2 = Right.Tabs;
  TShellListView*& LV1 = Left.List;
  TShellListView*& LV2 = Right.List;
  QLineEdit*& Edit1 = Left.Edit;
  QLineEdit*& Edit2 = Right.Edit;
  QLabel*& Status1 = Left.Status;  // the status line under each pane
  QLabel*& Status2 = Right.Status;
  TLineList& Path1SL = Left.Lines;
  TLineList& Path2SL = Right.Lines;
  TLineList& HistoryPath1 = Left.History;
  TLineList& HistoryPath2 = Right.History;
  TLineList& FileRunPath1 = Left.FileRuns;
  TLineList& FileRunPath2 = Right.FileRuns;
  int& TC1Tag = Left.SavedTab;  // the folder tab of a pane while a preview occupies it
  int& TC2Tag = Right.SavedTab;
  QMenu*& Tab1List = Left.TabDestinations;  // the destination menu's 左タブ
  QMenu*& Tab2List = Right.TabDestinations;
  QLabel* Image1;    // picture preview; lives in whichever pane shows one
  TTextView* Memo1;  // text preview
  // The menus with their tags; their design names stay as references.
  TWindowMenus Menus;
  TShellPopupMenu*& ShellPopupMenu1 = Menus.ShellPopupMenu1;
  QMenu*& PopupMenu1 = Menus.PopupMenu1;
  QMenu*& PopupMenu2 = Menus.PopupMenu2;
  QMenu*& History = Menus.History;
  QMenu*& CopyPopup = Menus.CopyPopup;
  QMenu*& TabListPopup = Menus.TabListPopup;
  QMenu*& N3 = Menus.N3;
  int& HistoryTag = Menus.HistoryTag;
  int& PopupMenu2Tag = Menus.PopupMenu2Tag;
  QString& PopupMenu2Root = Menus.PopupMenu2Root;
  // The letter actions "A".."Z" then "AA".."ZZ"; position k - 65 is the single
  // command of letter key k, position k - 39 its double command.
  std::array<QAction*, 52> ActionList1{};
  // The shell actions of the focused list, plus LV1left and LV2right.
  TShellActionList* ActionList2;
  QAction* LV1left;
  QAction* LV2right;
  QTimer* KeyTimer;                       // single/double key timer; idle when stopped
  QTimer* ChangeFileTimer;                // preview follow timer; idle when stopped
  std::unique_ptr<TArchiveFile> Archive;  // extracts for U
  std::unique_ptr<TSPIs> SPIs1;           // the picture plug-ins; null when it could not start
  // Decodes preview pictures; declared after SPIs1, so it stops before the plug-ins go.
  std::unique_ptr<TPictureLoader> PictureLoader;
  std::unique_ptr<ArcWindow> ArchiveOwner;  // the window as the archiver libraries know it
  std::vector<QIcon> ImageList1;            // launcher pictures, one per button position
  QIcon ImageList2;                         // the folder buttons' picture

  // The splitter handles beside TV1 and beside TV2.
  QSplitterHandle* Splitter1() const;
  QSplitterHandle* Splitter3() const;

  // --- Fields ---
  // What VV and VT show; the lists and extensions keep their design names.
  TPreviewLists Preview;
  TLineList& ImagePath = Preview.ImagePath;
  TLineList& TextPath = Preview.TextPath;
  int& ImageTabIndex = Preview.ImageTabIndex;
  int& TextTabIndex = Preview.TextTabIndex;
  std::string& ImageExt = Preview.ImageExt;
  std::string& TextExt = Preview.TextExt;
  TWindowLife Life;     // start-up and shut-down flags
  TWindowHooks Hooks;   // menus and messages, replaced by tests (they are modal)
  int KeyTimerTag = 0;  // the pending key's virtual-key code

  // --- Start-up and shut-down (MainFormState.cpp) ---
  void FormCreate();
  void FormShow();
  void FormDestroy();
  void RebuildTabs(QTabBar* tabControl, const TLineList& lines);
  void ShowTabFolder(TShellListView* listView);
  static bool IsTreeIndex(const std::string& line);
  // Folders given on the command line (MainFormStartPaths.cpp): each becomes a
  // new tab of the left pane (of the right pane for rightPaths), the last one
  // current; a file's folder opens with the file focused. Paths that lead
  // nowhere are reported. Call before show().
  void OpenStartPaths(const std::vector<std::string>& paths, const std::vector<std::string>& rightPaths = {});
  // The same for a running window, for paths a later start handed over: the
  // tabs open at once and the window comes to the front.
  void OpenHandedPaths(const std::vector<std::string>& paths, const std::vector<std::string>& rightPaths = {});
  // Window state as stored: 0 normal, 1 minimised, 2 maximised.
  int WindowStateCode() const;

  // --- Key dispatch (MainFormKeys.cpp) ---
  // The window's shortcut hook; true when the key was taken.
  bool FormShortCut(int virtualKey, Qt::KeyboardModifiers modifiers);
  void KeyTimerTimer();
  void RunDoubleCommand(int virtualKey, Qt::KeyboardModifiers modifiers);
  // Runs the list key of the key table (KeyTable.cpp) that matches.
  void LV1KeyDown(TShellListView* sender, int virtualKey, Qt::KeyboardModifiers modifiers);
  // The lists' menu entries of rename many, compare and synchronise (BatchCommands.cpp).
  void AddRenameCompareMenu();
  // How long a letter waits for its second press: [Option] DoubleKeyInterval.
  static constexpr int kDefaultKeyDelayMs = 200;
  int KeyDelayMs = kDefaultKeyDelayMs;
  QPointer<QDialog> keyTable_;
  void TV1KeyDown(TShellTreeView* sender, int virtualKey, Qt::KeyboardModifiers modifiers);
  void TV1Exit(TShellTreeView* sender);
  // Takes a preview out of the pane and shows its list again.
  void RestorePane(TShellListView* listView);
  // Shows a pane's tree beside it, taking its width from the right pane.
  void ShowTree(TShellTreeView* tree);
  void HideTree(TShellTreeView* tree);
  // The line of a pane's folder tab (the saved one while a preview covers the pane).
  std::string CurrentTabLine(const TPane& pane) const;

  // --- Tabs, histories, filter (MainFormTabs.cpp) ---
  void LV1ShListChange(TShellListView* sender);
  void TC1Change(QTabBar* sender);
  void TC2MouseDown(QTabBar* sender, Qt::MouseButton button, const QPoint& pos);
  static void AddToHistory(TLineList& list, const std::string& path);
  void LV1ShExecute(TShellListView* sender, TShellFileItem* item);
  void LV1ShFilter(TShellListView* sender, TShellFileItem* item, bool& accept);
  std::function<bool(std::string_view)> LV1ShNameFilter(TShellListView* sender);
  bool LV1ShFilterPassesAll(TShellListView* sender);
  void Edit1KeyDown(QLineEdit* sender, int virtualKey);
  void HistoryPopup();
  void HistoryClickClick(int entry);
  void TabListPopupPopup();
  void TabMenuClick(int entry);

  // --- Folder menu (MainFormFolderMenu.cpp) ---
  // Fills menu (PopupMenu2 itself or a folder entry's submenu) as it opens.
  void PopupMenu2Popup(QMenu* menu);
  void FolderMenuNavigate(QAction* entry);
  void FolderMenuOpenFile(QAction* entry);

  // --- Path text and the folder menu's paths (MainFormTabs.cpp, MainFormFolderMenu.cpp) ---
  // The last name of a path: "/a/b" -> "b"; empty for "/" and for a path ending in '/'.
  static std::string LastPathComponent(const std::string& path);
  // The path with a "/" at its end, added when it has none.
  static std::string WithTrailingSlash(const std::string& path);
  // A filter edit's folder part (up to and including its last '/') and its mask (the rest).
  static QString FolderPartOf(const QString& editText);
  static QString MaskPartOf(const QString& editText);
  // The masks of a filter: separated by commas and blanks outside double
  // quotes, a quoted mask may hold blanks; empty masks are dropped.
  static std::vector<std::string> SplitMasks(const std::string& mask);

  // --- Tool bars (MainFormToolbars.cpp) ---
  void BuildLauncherBar(const TLineList& lines, QToolBar* toolBar, std::vector<QIcon>& imageList);
  void BuildFolderBar(const TLineList& lines, QToolBar* toolBar);
  void ClearToolBar(QToolBar* toolBar, std::vector<QIcon>* imageList = nullptr);
  void LauncherClick(QToolButton* button);
  void FolderButtonClick(QToolButton* button);
  void FolderButtonMouseDown(QToolButton* button, Qt::MouseButton button2, const QPoint& globalPos);
  std::string SelectedFolderPath(TShellListView* list);
  // The buttons of a bar in order, and a button's Hint (its path).
  std::vector<QToolButton*> Buttons(QToolBar* toolBar) const;
  static std::string HintOf(QToolButton* button);

  // --- Preview (MainFormPreview.cpp) ---
  // Shows path in place of target's list, as a picture (decoded aside; failed
  // runs when it cannot be shown) or as a text.
  void ShowPreview(TPane& target, const std::string& path, bool picture, std::function<void()> failed = {});
  // Loads a picture into Image1, fitted to Image1's pane (or to the given
  // pane); throws when it cannot be read, and Image1 keeps what it showed.
  // The picture is decoded off the window's thread: shown runs when it is ready
  // (before it is shown), failed when it cannot be read or is no longer wanted.
  void LoadPreviewImage(const std::string& path);
  void LoadPreviewImage(const std::string& path, QWidget* pane, std::function<void()> shown = {},
                        std::function<void()> failed = {});
  // Stops the picture on its way; the pane keeps what it shows.
  void StopPreviewPicture();
  bool PreviewPictureBusy() const;
  void LoadPreviewText(const std::string& path);
  // Gives the focus mark to the item of that name (any letter case) and shows it.
  void FocusItemByCaption(const std::string& name, TShellListView* list);
  // A preview tab was clicked: its file is shown and the other pane goes to it.
  void PreviewTabChange(QTabBar* sender);
  void LV1SelectItem(TShellListView* sender, TShellFileItem* item, bool selected);
  void LV1ShSelChange(TShellListView* sender);
  void ChangeFileTimerTimer();
  // Keeps picture plug-ins only.
  void SPIs1Search(TSPIs* sender, TSPI* spi, bool& accept);
  // --- Archive (MainFormArchive.cpp) ---
  // The folder several entries of an archive go into: its name without its extension
  // (".tar.gz" and the like as one), always a new child of its folder.
  static std::string ArchiveFolderName(const std::string& path);
  // The extension of a path's name in lower case with its dot; empty for none.
  static std::string PreviewExtension(const std::string& path);
  // An extension listed in ImageExt; in TextExt (and not in ImageExt).
  bool IsImageFile(const std::string& ext) const;
  bool IsTextFile(const std::string& ext) const;

  // --- Shared file helpers (MainFormFiles.cpp) ---
  std::string FocusedItemPath(TShellListView* list);
  // Opens path with its default application (a folder in the file manager).
  void ShellOpen(const std::string& path);
  // Enter on a file (MainFormOpen.cpp): opens it, or says in the window that
  // no application opens it and offers the chooser.
  void OpenItem(const std::string& path);
  // The terminals F11 tries in order: $TERMINAL (split into words), x-terminal-emulator.
  static std::vector<std::vector<std::string>> TerminalCommands();
  // Copies (or moves) the list's selection into folder through the engine.
  void TransferSelection(TShellListView* list, const std::string& folder, bool move);

  // --- Status line (MainFormStatusLine.cpp) ---
  // Refreshes the pane's status line; listed (a new listing) also asks the
  // file system for its free space.
  void UpdateStatusLine(TShellListView* list, bool listed);
  // "512 バイト", "1.5 KB", "20.3 GB".
  static QString ByteSizeText(uint64_t bytes);

  // --- Panes ---
  // The pane whose list, tabs, filter edit, tree or status line part is; null for none.
  TPane* PaneOf(const QObject* part);
  TPane& OtherPane(const TPane& pane);
  // The pane of a menu's side (0 left, 1 right; the menus' tags count so).
  TPane& PaneAt(int side);
  // The pane whose list has the keyboard focus, the left tested first; null for neither.
  TPane* CurrentPane();
  TShellListView* CurrentList();
  // The screen point the command menus pop up at: the window's centre.
  QPoint MenuPoint(QMenu* menu) const;

  // --- Moving files between panes (MainFormFiles.cpp) ---
  // TransferSelection with its answer: true when the operation succeeded.
  bool TryTransferSelection(TShellListView* list, const std::string& folder, bool move);
  // Clears the selection and gives the row at index (clamped to the last) the focus mark.
  void FocusItemAt(TShellListView* list, int index);
  // The folder bar's button of a digit key (48..57), null when the bar has none.
  QToolButton* FolderButtonOfKey(int virtualKey) const;

  // --- Selections and the destination menu (MainFormFiles.cpp, MainFormDestinations.cpp) ---
  // Clears lines and adds the path of each selected item, in list order.
  void SelectedPaths(TShellListView* list, TLineList& lines);
  // The selected items' paths as the arguments of an external program, one
  // argument per path (never joined with blanks), in list order.
  std::vector<std::string> SelectedShortPaths(TShellListView* list);
  // There are no short names here: the path itself.
  static std::string ToShortPath(const std::string& path);
  // The command line that starts the text editor when the settings name none
  // (or "notepad.exe"): $VISUAL, $EDITOR, a graphical editor found on PATH,
  // else xdg-open.
  static std::vector<std::string> DefaultEditorCommand();
  // The destination menu: its submenus, filled each time they open.
  void CreateCopyPopup();
  void Tab1ListClick(QMenu* submenu);
  void N3Click(QMenu* submenu);
  void CopyListClick(QAction* entry);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // MainFormCreate.cpp
  void CreateControls();
  void CreateActions();
  void CreateMenus();
  void WireEvents();
  // Connects a letter action to its command; letters without one do nothing.
  void SetHandler(const QString& name, void (*command)(TForm1& form));

  // MainFormKeys.cpp, MainFormToolbars.cpp
  // The filter edit keeps its folder part and takes mask; the list is re-read.
  void SetQuickMask(TPane& pane, const QString& mask);
  QToolButton* AddBarButton(QToolBar* toolBar, QAction* before, const QString& caption, const std::string& hint);

  // MainFormPreview.cpp, MainFormArchive.cpp: the components of the window.
  void CreatePictureHost();
  void CreateArchive();
  // Shows preview (Image1 or Memo1) in place of target's list, or updates
  // its tab when it is there already.
  void EnterPreview(QWidget* preview, TPane& target, const TLineList& lines, int index);

  // MainFormState.cpp
  // Writes the eight lists and the two tool bar files into folder; false when any failed.
  // Files that are links to something other than a regular file are left
  // alone and named in skipped.
  bool SaveListFiles(const std::string& folder, QStringList* skipped = nullptr);
  // The window's and the lists' keys of the INI file, as shut-down writes them.
  void WriteWindowKeys(TIniFile& ini);
  void FocusStartFile();
};

// Virtual-key codes of keys as the commands know them (65 'A', 112 F1...); 0 for others.
int VirtualKeyOf(int qtKey);
// The digit row by its X11 key code (10 for 1 .. 19 for 0) as a virtual key; 0 for others.
int DigitKeyOfScanCode(quint32 scanCode);
