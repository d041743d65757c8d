#pragma once
// The main window's state that is not a pane, a bar or a timer, in small
// groups a reader finds together: the preview's lists and settings, the
// menus with the tags that say whom an open menu serves, the hooks a test
// replaces, and the start-up and shut-down flags.
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "app/PreviewPicture.h"
#include "platform/state/LineList.h"

class QAction;
class QMenu;
class QPoint;
class TShellListView;
class TShellPopupMenu;

// What VV and VT show and which files count as pictures or texts.
struct TPreviewLists {
  TLineList ImagePath, TextPath;
  int ImageTabIndex = 0;
  int TextTabIndex = 0;
  std::string ImageExt = ".bmp";
  std::string TextExt = ".txt";
  uint64_t PictureMemoryLimit = kDefaultPictureMemoryLimit;  // [Ext] PictureMemoryLimitMB
  std::function<void()> PictureFailed;                       // undoes what the picture on its way was to change
  std::function<void()> PictureLineAdded;                    // VV's new line, handed to the picture's request
};

// The window's menus (owned through Qt parents) and what each open one serves.
struct TWindowMenus {
  TShellPopupMenu* ShellPopupMenu1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QMenu* PopupMenu2 = nullptr;    // folder menu
  QMenu* History = nullptr;       // title entry and ten entries
  QMenu* CopyPopup = nullptr;     // destinations of C and M
  QMenu* TabListPopup = nullptr;  // the tabs of a pane
  // The destination menu's 登録フォルダ; the panes' tabs and histories are theirs (Tab1List, 左履歴...).
  QMenu* N3 = nullptr;
  int HistoryTag = 0;
  int TabListPopupTag = 0;
  int PopupMenu2Tag = 0;
  // 0 copy from the left pane, 1 copy from the right, 2 move from the left, 3 move from the right.
  int CopyPopupTag = 0;
  // The folder the folder menu opens with (its first entry's caption).
  QString PopupMenu2Root;
  // The same as bytes, for names that are not UTF-8; it counts while
  // PopupMenu2Root still reads as its display form.
  std::string PopupMenu2RootPath;
};

// Hooks a test replaces (menus and messages are modal).
struct TWindowHooks {
  // Runs a popup menu at pt and returns the chosen entry, null for none.
  std::function<QAction*(QMenu* menu, const QPoint& pt)> ExecPopup;
  // Shows a message box with one OK button.
  std::function<void(const QString& text)> ShowMessage;
  // Says why a file did not open (reason holds "%1" for its name) and offers
  // the applications to open it with.
  std::function<void(const std::string& path, const QString& reason)> OfferOpenWith;
  // Opens a file chosen from a file history or the folder menu; ShellOpen when empty.
  std::function<void(const std::string& path)> OpenChosenFile;
};

// Where the window is between creation and destruction.
struct TWindowLife {
  bool Shown = false;
  bool Destroyed = false;
  bool ListsLoaded = false;  // the eight lists (six of them the panes') exist (creation step 3 to destruction step 1)
  bool BarsLoaded = false;   // the tool bars hold what their files held
  // The command line's file, focused when the window is first shown (its tab is the pane's StartTab).
  std::string StartFocusFile;
  TShellListView* StartFocusList = nullptr;  // where StartFocusFile is; LV1 when null
};
