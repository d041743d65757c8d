// Start-up and shut-down of the main window: the line lists of log/, the tool
// bar files, and the window's keys of the INI file.
//
// State that cannot be written in its usual place goes to the fallback folder
// ($XDG_CONFIG_HOME/tolvane) with a message, and a note there says so; the
// next start reads the copy written last, which the note tells (a full disk
// still passes a test for write access). Nothing is dropped quietly.
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>
#include <QStringList>
#include <QTabBar>
#include <QToolBar>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/LocationOpener.h"
#include "app/MainForm.h"
#include "app/Pane.h"
#include "app/SearchCommand.h"
#include "archive/ArchiveFolder.h"
#include "image/SPIs.h"
#include "platform/state/AtomicFile.h"
#include "platform/state/IniFile.h"
#include "platform/namespace/PathText.h"
#include "platform/network/Location.h"
#include "platform/state/StateFolder.h"
#include "platform/system/TrailingSlash.h"

namespace {

enum class Seed { kEmpty, kHome, kDefo };

struct ListFile {
  const char* name;
  TLineList& (*list)(TForm1& form);
  Seed seed;  // the line a fresh installation (or a lost file) starts with
};

// In the order they are read and written.
constexpr ListFile kListFiles[] = {
    {"Path1SL.text", [](TForm1& form) -> TLineList& { return form.Left.Lines; }, Seed::kHome},
    {"Path2SL.text", [](TForm1& form) -> TLineList& { return form.Right.Lines; }, Seed::kHome},
    {"HistoryPath1.text", [](TForm1& form) -> TLineList& { return form.Left.History; }, Seed::kEmpty},
    {"HistoryPath2.text", [](TForm1& form) -> TLineList& { return form.Right.History; }, Seed::kEmpty},
    {"FileRunPath1.text", [](TForm1& form) -> TLineList& { return form.Left.FileRuns; }, Seed::kEmpty},
    {"FileRunPath2.text", [](TForm1& form) -> TLineList& { return form.Right.FileRuns; }, Seed::kEmpty},
    {"ImagePath.text", [](TForm1& form) -> TLineList& { return form.ImagePath; }, Seed::kDefo},
    {"TextPath.text", [](TForm1& form) -> TLineList& { return form.TextPath; }, Seed::kDefo},
};
constexpr const char* kToolBar1File = "ToolBar1.txt";
constexpr const char* kToolBar2File = "ToolBar2.txt";

// What a fresh installation previews: the formats the picture readers and the
// text preview handle. The preview tests an extension as a substring of these.
constexpr const char* kFreshImageExt = ".bmp;.png;.jpg;.jpeg;.jpe;.jfif;.gif;.webp";
constexpr const char* kFreshTextExt =
    ".txt;.text;.log;.md;.ini;.cfg;.conf;.csv;.tsv;.json;.xml;.html;.htm;.css;.js;"
    ".c;.h;.cc;.cpp;.hpp;.py;.sh;.pl;.rb;.rs;.go;.java;.sql;.yaml;.yml;.toml";

// A fresh list's columns in the details view: name, size, type, date, attributes.
constexpr int kFreshColumnWidths[] = {200, 80, 120, 130, 50};

constexpr int kDefaultPaneWidth = 200;
// More lines than anyone can use; a list file longer than this is read only
// this far. A tab bar lays out all its tabs again for each tab added, and a
// window of many thousand buttons is slow to close, so tabs and buttons stop
// much earlier.
constexpr int kMaxListLines = 10000;
constexpr int kMaxTabLines = 1000;
// How long the start waits for the panes' folders before it shows the window:
// ordinary folders are read by then, and one that is not is big enough that
// its rows are set up after the first paint anyway.
constexpr int kStartReadWaitMs = 50;

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return WithoutTrailingSlash(home);
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
    return WithoutTrailingSlash(pw->pw_dir);
  return "/";
}

// Where the state goes when its usual folder cannot be written.
std::string FallbackStateFolder() {
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
    config = xdg;
  else
    config = (HomeFolder() == "/" ? std::string() : HomeFolder()) + "/.config";
  return WithoutTrailingSlash(config) + "/tolvane";
}

QString ForDisplay(const std::string& path) { return QString::fromUtf8(path); }

std::string Join(const std::string& folder, const std::string& name) {
  return (folder == "/" ? std::string() : folder) + "/" + name;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// True when files can be created in folder, or in what creates it.
bool CanWriteInto(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) && ::access(folder.c_str(), W_OK) == 0;
  if (errno != ENOENT) return false;
  std::string parent = DirName(folder);
  return parent != folder && CanWriteInto(parent);
}

// Files are replaced through a temporary file beside them, so the folder counts.
bool CanWriteFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
  return CanWriteInto(DirName(path));
}

bool MakeFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return FolderExists(folder);
}

// The fallback folder's note: one line per usual place (log folder or INI
// file) whose newest copy was saved in the fallback folder instead.
constexpr const char* kFallbackNote = "saved-here-instead.text";

bool SavedInFallback(const std::string& usual) {
  TLineList note;
  note.LoadFromFile(Join(FallbackStateFolder(), kFallbackNote));
  return note.IndexOf(usual) >= 0;
}

void NoteSavedInFallback(const std::string& usual, bool saved) {
  const std::string path = Join(FallbackStateFolder(), kFallbackNote);
  TLineList note;
  note.LoadFromFile(path);
  const int index = note.IndexOf(usual);
  if (saved == (index >= 0)) return;
  if (saved)
    note.Add(usual);
  else
    note.Delete(index);
  note.SaveToFile(path);
}

// The log folder the lists are read from: the usual one, unless the last save
// went to the fallback folder (or the usual one cannot be written and an
// earlier run saved them there).
std::string ListsFolder() {
  std::string usual = LogFolder();
  std::string fallback = Join(FallbackStateFolder(), "log");
  if (fallback == usual || !FolderExists(fallback)) return usual;
  return SavedInFallback(usual) || !CanWriteInto(usual) ? fallback : usual;
}

// The same for the INI file's window and list keys.
std::string StateIniPath() {
  std::string usual = IniFilePath();
  std::string fallback = Join(FallbackStateFolder(), "tolvane.ini");
  if (fallback == usual || !NonFolderExists(fallback)) return usual;
  return SavedInFallback(usual) || !CanWriteFile(usual) ? fallback : usual;
}

TLineList SeedList(Seed seed) {
  TLineList list;
  if (seed == Seed::kHome) list.Add(HomeFolder());
  if (seed == Seed::kDefo) list.Add("defo");
  return list;
}

// A state folder without an INI file and without any of the lists is a new
// installation: it gets one tab per pane on the home folder and unused preview
// lists.
void SeedFreshLists(const std::string& logFolder, const std::string& iniPath) {
  if (Exists(iniPath)) return;
  for (const ListFile& file : kListFiles)
    if (Exists(Join(logFolder, file.name))) return;
  if (!MakeFolder(logFolder)) return;
  for (const ListFile& file : kListFiles) SeedList(file.seed).SaveToFile(Join(logFolder, file.name));
}

// The keys a new installation gets, added whenever the INI file lacks them
// (a user resets the layout by deleting the file, the lists stay): the
// extensions the previews read and columns wide enough for a name.
void SeedMissingKeys(const std::string& iniPath) {
  TIniFile ini(iniPath);
  auto seed = [&ini](const std::string& section, const std::string& key, const std::string& value) {
    if (!ini.ValueExists(section, key)) ini.WriteString(section, key, value);
  };
  seed("Ext", "ImageExt", kFreshImageExt);
  seed("Ext", "TextExt", kFreshTextExt);
  // A list section without keys reads 30 px columns, too narrow for a name.
  constexpr int kColumns = static_cast<int>(std::size(kFreshColumnWidths));
  for (const char* section : {"ListView1", "ListView2"}) {
    seed(section, "ColumnsCount", std::to_string(kColumns));
    const int count = std::clamp(ini.ReadInteger(section, "ColumnsCount", kColumns), 0, kColumns);
    for (int n = 0; n < count; ++n) {
      seed(section, "Columns" + std::to_string(n), std::to_string(n));
      seed(section, "ColumnsWidth" + std::to_string(n), std::to_string(kFreshColumnWidths[n]));
    }
  }
  ini.UpdateFile();
  SeedSusiePluginPath();  // the bundled picture plug-ins, found with no setup
}

// A first window: two thirds of the screen, centred on it; on a small screen
// not smaller than the design size, as far as the screen allows.
QRect FirstWindowBounds(const QRect& design) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return design;
  const QRect area = screen->availableGeometry();
  const QSize size =
      QSize(area.width() * 2 / 3, area.height() * 2 / 3).expandedTo(design.size()).boundedTo(area.size());
  return QRect(area.topLeft() + QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2), size);
}

// The lines of a tool bar file; blank lines name nothing and make no button.
bool LoadBarLines(const std::string& path, TLineList& lines, const std::function<void(const QString&)>& say) {
  if (!lines.LoadFromFile(path)) return false;
  std::erase_if(lines.Lines, [](const std::string& line) { return line.empty(); });
  if (lines.Count() > kMaxTabLines) {
    lines.Lines.resize(kMaxTabLines);
    say(QString("%1 は行が多すぎるため、最初の %2 行だけを読み込みました").arg(ForDisplay(path)).arg(kMaxTabLines));
  }
  return true;
}

TShellTreeNode* TreeIndexNode(TShellTreeView* tree, const std::string& line) {
  if (!TForm1::IsTreeIndex(line)) return nullptr;
  const int index = std::stoi(line);
  TShellTreeNode* root = tree->RootNode();
  if (!root || index < 0) return nullptr;
  if (root->childCount() == 0) tree->RefreshNode(root);
  return index < root->childCount() ? TShellTreeView::NodeOf(root->child(index)) : nullptr;
}

QString LastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return QString::fromUtf8(slash == std::string::npos ? path : path.substr(slash + 1));
}

// A tab caption shows '&' as itself, not as a mnemonic.
QString TabText(QString text) { return text.replace('&', "&&"); }

int WidthOrDefault(int width) { return width > 0 ? width : kDefaultPaneWidth; }

// A hidden tree has no width in the splitter (which keeps it for the next
// showing); the tree keeps the width it had when last shown, or was given.
constexpr const char* kKeptWidth = "keptWidth";

class TreeWidthKeeper : public QObject {
 public:
  TreeWidthKeeper(QWidget* tree, int width) : QObject(tree), tree_(tree) {
    tree->setProperty(kKeptWidth, width);
    tree->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide && tree_->width() > 0) tree_->setProperty(kKeptWidth, tree_->width());
    return false;
  }

 private:
  QWidget* tree_;
};

int TreeWidth(const QWidget* tree) { return tree->isVisible() ? tree->width() : tree->property(kKeptWidth).toInt(); }

}  // namespace

bool TForm1::IsTreeIndex(const std::string& line) {
  // A whole decimal number within 32 bits; a path never is one.
  size_t digits = line.find_first_not_of("+-") == 1 ? 1 : 0;
  if (line.size() <= digits || line.size() - digits > 10) return false;
  if (line.find_first_not_of("0123456789", digits) != std::string::npos) return false;
  long long value = std::stoll(line);
  return value >= INT32_MIN && value <= INT32_MAX;
}

int TForm1::WindowStateCode() const {
  Qt::WindowStates state = windowState();
  if (state & Qt::WindowMinimized) return 1;
  if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) return 2;
  return 0;
}

void TForm1::FormCreate() {
  // Image1, Memo1 and the filter edits sit in their panes' layouts already.
  const std::string logFolder = ListsFolder();
  const std::string iniPath = StateIniPath();
  if (logFolder == LogFolder() && iniPath == IniFilePath()) {
    SeedFreshLists(logFolder, iniPath);
    SeedMissingKeys(iniPath);
  }

  // A lost or unreadable list starts as a fresh one, so each pane has a tab
  // and each preview list its first line.
  for (const ListFile& file : kListFiles) {
    TLineList& list = file.list(*this);
    list.LoadFromFile(Join(logFolder, file.name));
    if (list.Count() == 0) list = SeedList(file.seed);
    const int most = file.seed == Seed::kHome ? kMaxTabLines : kMaxListLines;
    if (list.Count() > most) {
      list.Lines.resize(most);
      Hooks.ShowMessage(QString("%1 は行が多すぎるため、最初の %2 行だけを読み込みました")
                            .arg(ForDisplay(Join(logFolder, file.name)))
                            .arg(most));
    }
  }
  Life.ListsLoaded = true;

  TLineList bar;
  if (LoadBarLines(Join(logFolder, kToolBar1File), bar, Hooks.ShowMessage)) BuildLauncherBar(bar, ToolBar1, ImageList1);
  if (LoadBarLines(Join(logFolder, kToolBar2File), bar, Hooks.ShowMessage)) BuildFolderBar(bar, ToolBar2);
  Life.BarsLoaded = true;

  TIniFile ini(iniPath);
  LV1->LoadSettings(ini, "ListView1");
  LV2->LoadSettings(ini, "ListView2");

  // Position first, then size; a size that is no size, or bounds that no
  // screen shows any more, keep the design values. Saved bounds win over
  // those of a first window.
  const QRect first = FirstWindowBounds(geometry());
  QRect bounds(ini.ReadInteger("Window", "Left", first.x()), ini.ReadInteger("Window", "Top", first.y()),
               ini.ReadInteger("Window", "Width", first.width()), ini.ReadInteger("Window", "Height", first.height()));
  bool onScreen = false;
  for (QScreen* screen : QGuiApplication::screens())
    onScreen = onScreen || screen->availableGeometry().intersects(bounds);
  if (onScreen || QGuiApplication::screens().isEmpty()) move(bounds.topLeft());
  if (bounds.width() > 0 && bounds.height() > 0) resize(bounds.size());
  switch (ini.ReadInteger("Window", "State", WindowStateCode())) {
    case 1:
      setWindowState(Qt::WindowMinimized);
      break;
    case 2:
      setWindowState(Qt::WindowMaximized);
      break;
    default:
      setWindowState(Qt::WindowNoState);
      break;
  }

  // A first window splits its panes evenly.
  const int evenSplit = std::max(1, (width() - Panes->handleWidth()) / 2);
  const int paneWidth = WidthOrDefault(ini.ReadInteger("Window", "ListViewWide", evenSplit));
  const int tree1Width = WidthOrDefault(ini.ReadInteger("Window", "TreeView1Wide", kDefaultPaneWidth));
  const int tree2Width = WidthOrDefault(ini.ReadInteger("Window", "TreeView2Wide", kDefaultPaneWidth));
  new TreeWidthKeeper(TV1, tree1Width);
  new TreeWidthKeeper(TV2, tree2Width);
  // The right pane takes what the left pane and a shown tree leave.
  const int rest = std::max(1, width() - paneWidth - Panes->handleWidth());
  Panes->setSizes({tree1Width, paneWidth, rest, tree2Width});

  // The extensions are the user's own keys, kept in the usual INI file.
  auto readExt = [this](TIniFile& extIni) {
    ImageExt = extIni.ReadString("Ext", "ImageExt", ".bmp");
    TextExt = extIni.ReadString("Ext", "TextExt", ".txt");
    // Megabytes a picture may take decoded whole; 0 or less keeps the default.
    const int limitMB = extIni.ReadInteger("Ext", "PictureMemoryLimitMB", 0);
    Preview.PictureMemoryLimit = limitMB > 0 ? uint64_t(limitMB) << 20 : kDefaultPictureMemoryLimit;
  };
  if (iniPath == IniFilePath()) {
    readExt(ini);
  } else {
    TIniFile userIni(IniFilePath());
    readExt(userIni);
  }

  // The double-press window, for those who type slower (or faster); a value
  // no one could use falls back to the usual one.
  const int keyDelay = TIniFile(IniFilePath()).ReadInteger("Option", "DoubleKeyInterval", kDefaultKeyDelayMs);
  KeyDelayMs = keyDelay >= 50 && keyDelay <= 2000 ? keyDelay : kDefaultKeyDelayMs;

  // An index past its list (the files are edited by hand) points at its last line.
  ImageTabIndex = std::clamp(ini.ReadInteger("Window", "ImageTabIndex", 0), 0, std::max(0, ImagePath.Count() - 1));
  TextTabIndex = std::clamp(ini.ReadInteger("Window", "TextTabIndex", 0), 0, std::max(0, TextPath.Count() - 1));
}

void TForm1::FormShow() {
  RebuildTabs(TC1, Path1SL);
  RebuildTabs(TC2, Path2SL);
  {
    TIniFile ini(StateIniPath());
    // Setting the index by program raises no change event; an index that is no
    // tab leaves the first one current.
    TC1->setCurrentIndex(ini.ReadInteger("Window", "TC1TabIndex", 0));
    TC2->setCurrentIndex(ini.ReadInteger("Window", "TC2TabIndex", 0));
  }
  for (TPane* pane : {&Left, &Right})
    if (pane->StartTab >= 0) pane->Tabs->setCurrentIndex(pane->StartTab);
  // Both folders are read at once on workers; one that takes long follows
  // the window instead of holding it back. Showing a folder reads it, so no
  // second reading follows.
  for (TPane* pane : {&Left, &Right})
    if (const std::string line = CurrentTabLine(*pane); !line.empty() && !IsTreeIndex(line))
      pane->List->ReadAhead(line, kStartReadWaitMs);
  ShowTabFolder(LV1);
  ShowTabFolder(LV2);
  FocusStartFile();
  LV1->setFocus();
}

void TForm1::RebuildTabs(QTabBar* tabControl, const TLineList& lines) {
  TPane* pane = PaneOf(tabControl);
  if (!pane) return;
  TShellTreeView* tree = pane->Tree;
  while (tabControl->count() > 0) tabControl->removeTab(tabControl->count() - 1);
  for (const std::string& line : lines.Lines) {
    QString caption;
    if (IsTreeIndex(line)) {
      TShellTreeNode* node = TreeIndexNode(tree, line);
      // A number that names no node stands for the home folder the pane shows instead.
      caption = node ? node->text(0) : LastComponent(HomeFolder());
    } else if (IsSearchParseName(line)) {
      caption = QString::fromStdString(TSearchController::TabCaption(line));
    } else {
      caption = LastComponent(line);
    }
    tabControl->addTab(TabText(caption));
  }
}

void TForm1::ShowTabFolder(TShellListView* listView) {
  TPane* pane = PaneOf(listView);
  if (!pane) return;
  const TLineList& lines = pane->Lines;
  const int index = pane->Tabs->currentIndex();
  if (index >= 0 && index < lines.Count()) {
    // A copy: showing the folder rewrites the tab's line.
    const std::string line = lines[index];
    if (IsSearchParseName(line)) {
      TSearchController::Of(this)->Show(listView, line);
    } else if (network::IsLocationUri(line)) {
      // Mounted on a worker. Meanwhile, and when it fails, the tab and the
      // edit keep the URI.
      pane->Edit->setText(QString::fromStdString(line) + "/" + MaskPartOf(pane->Edit->text()));
      TLocationOpener::Of(this, listView)->Open(line);
      return;
    } else if (!IsTreeIndex(line)) {
      // A tab inside an archive that has gone opens at the archive's folder.
      listView->SetPathName(ArchiveFolderOrFallback(line));
    } else if (TShellTreeNode* node = TreeIndexNode(pane->Tree, line)) {
      TShellTreeView* tree = pane->Tree;
      tree->setCurrentItem(node);
      // The link shows the tree's selection in the list; the pane keeps no link.
      tree->SetShellListView(listView);
      tree->SetShellListView(nullptr);
    } else {
      listView->SetPathName(HomeFolder());
    }
  }
  // A list without any folder yet (its tab's folder is gone, say) starts at home.
  if (!listView->FolderIDList()) listView->SetPathName(HomeFolder());
}

bool TForm1::SaveListFiles(const std::string& folder, QStringList* skipped) {
  if (!MakeFolder(folder)) return false;
  bool saved = true;
  // A list linked to /dev/null (say) is the user's way of keeping nothing.
  auto save = [&](const TLineList& list, const std::string& path) {
    if (IsLinkToNonRegularFile(path)) {
      if (skipped) *skipped << ForDisplay(path);
      return;
    }
    saved = list.SaveToFile(path) && saved;
  };
  if (Life.ListsLoaded)
    for (const ListFile& file : kListFiles) save(file.list(*this), Join(folder, file.name));
  // The bars are written only when they hold what was read, so a failed start
  // never empties the files.
  if (Life.BarsLoaded) {
    for (auto [bar, name] : {std::pair{ToolBar1, kToolBar1File}, std::pair{ToolBar2, kToolBar2File}}) {
      TLineList hints;
      for (QToolButton* button : Buttons(bar)) hints.Add(HintOf(button));
      save(hints, Join(folder, name));
    }
  }
  return saved;
}

void TForm1::WriteWindowKeys(TIniFile& ini) {
  LV1->SaveSettings(ini, "ListView1");
  LV2->SaveSettings(ini, "ListView2");
  const int state = WindowStateCode();
  // Maximised or minimised bounds are not the window's own: the last normal ones stay.
  if (state == 0) {
    ini.WriteInteger("Window", "Top", y());
    ini.WriteInteger("Window", "Left", x());
    ini.WriteInteger("Window", "Width", width());
    ini.WriteInteger("Window", "Height", height());
  }
  ini.WriteInteger("Window", "State", state);
  ini.WriteInteger("Window", "ListViewWide", TC1Pane->width());
  ini.WriteInteger("Window", "TreeView1Wide", TreeWidth(TV1));
  ini.WriteInteger("Window", "TreeView2Wide", TreeWidth(TV2));
  // While a preview holds a pane its tabs are preview tabs; the folder tab waits in the Tag.
  ini.WriteInteger("Window", "TC1TabIndex", LV1->isVisibleTo(TC1Pane) ? TC1->currentIndex() : TC1Tag);
  ini.WriteInteger("Window", "TC2TabIndex", LV2->isVisibleTo(TC2Pane) ? TC2->currentIndex() : TC2Tag);
  ini.WriteInteger("Window", "ImageTabIndex", ImageTabIndex);
  ini.WriteInteger("Window", "TextTabIndex", TextTabIndex);
}

void TForm1::FormDestroy() {
  if (Life.Destroyed) return;
  Life.Destroyed = true;
  // Nothing pending may run into a window that is going.
  KeyTimer->stop();
  ChangeFileTimer->stop();

  QStringList failed, skipped;
  const std::string fallbackFolder = FallbackStateFolder();
  // The usual place first, whichever copy was read: once it can be written
  // again, it holds the newest state again.
  const std::string logFolder = LogFolder();
  if (SaveListFiles(logFolder, &skipped)) {
    NoteSavedInFallback(logFolder, false);
  } else {
    std::string fallback = Join(fallbackFolder, "log");
    if (fallback != logFolder && SaveListFiles(fallback)) {
      NoteSavedInFallback(logFolder, true);
      Hooks.ShowMessage(
          QString("%1 に書き込めないため、一覧を %2 に保存しました").arg(ForDisplay(logFolder), ForDisplay(fallback)));
    } else {
      failed << ForDisplay(logFolder);
    }
  }
  if (!skipped.isEmpty())
    Hooks.ShowMessage("通常のファイルへのリンクではないため、書き込みませんでした: " + skipped.join(", "));
  Life.ListsLoaded = false;
  for (const ListFile& file : kListFiles) file.list(*this).Clear();

  const std::string iniPath = IniFilePath();
  bool written = false;
  {
    TIniFile ini(iniPath);
    WriteWindowKeys(ini);
    written = ini.UpdateFile();
  }
  if (written) {
    NoteSavedInFallback(iniPath, false);
  } else {
    std::string fallback = Join(fallbackFolder, "tolvane.ini");
    bool saved = false;
    if (fallback != iniPath && MakeFolder(fallbackFolder)) {
      TIniFile ini(fallback);
      WriteWindowKeys(ini);
      saved = ini.UpdateFile();
    }
    if (saved) {
      NoteSavedInFallback(iniPath, true);
      Hooks.ShowMessage(
          QString("%1 に書き込めないため、設定を %2 に保存しました").arg(ForDisplay(iniPath), ForDisplay(fallback)));
    } else {
      failed << ForDisplay(iniPath);
    }
  }
  if (!failed.isEmpty()) Hooks.ShowMessage("状態を保存できませんでした: " + failed.join(", "));
}
