#pragma once
// Find files in the window: the dialog (Ctrl+F and the list's menu), a new tab
// of the current pane that shows the results folder while the search runs,
// the status line under it, Esc to stop, Enter on a hit to open its folder
// with the file focused, and the history of searches in the state folder.
// A search stops when no tab shows it any more.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/search/FileSearch.h"
#include "platform/search/SearchResultsFolder.h"

class TForm1;
class TShellFileItem;
class TShellListView;
class QMenu;

// The list menu's entry that opens the dialog for the current pane.
void AddFindFilesEntry(TForm1& form, QMenu* menu);

class TSearchController : public QObject {
  Q_OBJECT
 public:
  // The form's controller, made on first use (a child of the form).
  static TSearchController* Of(TForm1* form);

  // Opens the dialog for the list's pane; a search asked for starts.
  void OpenDialog(TShellListView* list);
  // Starts a search in a new tab of the list's pane, afresh.
  void Start(TShellListView* list, const SearchQuery& query);
  // Shows a tab's search (its line is the results folder's parsing name);
  // a search not run since the start runs now.
  void Show(TShellListView* list, const std::string& line);
  // Esc: stops the search the list shows; false when it shows none running.
  bool Stop(TShellListView* list);
  // Enter on a row of results: its folder in a new tab, the file focused.
  // False when the list shows no results (the row opens as usual).
  bool OpenHitFolder(TShellListView* list, TShellFileItem* item);
  // The tab line and caption of a list that shows results; empty otherwise.
  static std::string TabLine(TShellListView* list);
  static std::string TabCaption(const std::string& line);

  bool Running(const std::string& key) const;
  // Past searches, newest first (at most kHistoryLimit), from the state folder.
  static std::vector<SearchQuery> History();
  static void AddToHistory(const SearchQuery& query);
  static constexpr int kHistoryLimit = 20;
  // How often the lists and status lines follow a running search.
  static constexpr int kTickMs = 40;

  // The dialog, replaced by a test: fills the query and returns true to search.
  std::function<bool(TShellListView* list, SearchQuery& query)> AskQuery;

 private:
  explicit TSearchController(TForm1* form);
  void Run(const SearchQuery& query);
  void Tick();
  void Follow(TShellListView* list);
  void StatusText(TShellListView* list, const std::string& key);
  void RefreshKeepingSelection(TShellListView* list);
  bool AskWithDialog(TShellListView* list, SearchQuery& query);

  struct Job {
    std::unique_ptr<FileSearch> search;
    std::shared_ptr<SearchResults> store;
  };
  TForm1* form_;
  QTimer timer_;
  std::map<std::string, Job> jobs_;            // by encoded query
  std::map<TShellListView*, uint64_t> shown_;  // the generation each list shows
  int ticks_ = 0;
};
