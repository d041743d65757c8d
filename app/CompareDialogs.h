#pragma once
// Comparing the two panes' folders and synchronising them.
//   object names: compareOptionsDialog (compareContent, compareSubfolders),
//   syncDialog (syncPlan: one row per entry, its action a combo box in
//   column 4), compareSummary
#include <QDialog>
#include <string>
#include <vector>

#include "platform/fileops/FolderCompare.h"
#include "platform/fileops/FolderSync.h"

class QCheckBox;
class QLabel;
class QTableWidget;
class TShellListView;

class TCompareOptionsDialog : public QDialog {
 public:
  explicit TCompareOptionsDialog(QWidget* parent);
  CompareOptions Options() const;
  QCheckBox *Content, *Subfolders;
};

class TSyncDialog : public QDialog {
 public:
  TSyncDialog(QWidget* parent, std::string left, std::string right, std::vector<SyncLine> lines);
  // The plan as the table says now.
  std::vector<SyncLine> Plan() const;
  // Sets the action of the line for path (false when it may not have it).
  bool SetAction(const std::string& path, SyncAction action);
  QTableWidget* Table;
  QLabel* Status;

 protected:
  void accept() override;

 private:
  void Count();
  std::string left_, right_;
  std::vector<SyncLine> lines_;
};

// Compares on a worker with progress; false when cancelled or a folder
// could not be read (said so).
bool CompareFolders(QWidget* owner, const std::string& left, const std::string& right, const CompareOptions& options,
                    CompareResult& result);
// Selects in each list the entries new or newer on its side (top level).
void SelectNewer(const CompareResult& result, TShellListView* left, TShellListView* right);
// "左だけ 3、右だけ 1, ..." for the summary.
QString CompareSummary(const CompareCounts& counts);

// The commands. left, right: the lists of the two panes.
void CompareCommand(QWidget* owner, TShellListView* left, TShellListView* right);
void SyncCommand(QWidget* owner, TShellListView* left, TShellListView* right);
