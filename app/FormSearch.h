#pragma once
// The find-files dialog: where to look, the name masks (after a '|' the names
// left out), the text contained and how to read it, size and date ranges, and
// whether hidden files, links and other file systems count. It starts from
// the last search, in the folder it is opened from.
//   object names: searchDialog, searchFolder, searchMasks, searchText, searchRegex,
//   searchCase, searchEncoding, searchMinSize, searchMaxSize, searchFrom, searchTo,
//   searchHidden, searchLinks, searchMounts, searchBinary, searchStart
#include <QDialog>
#include <string>
#include <vector>

#include "platform/search/SearchQuery.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;

class TFormSearch : public QDialog {
  Q_OBJECT
 public:
  // folders: the folder histories to offer; history: past queries, newest first.
  TFormSearch(QWidget* parent, const std::string& folder, const std::vector<std::string>& folders,
              const std::vector<SearchQuery>& history);

  // The query the fields describe; false with a Japanese message for a field
  // that says nothing sensible (a size that is no number, an empty folder).
  bool Query(SearchQuery& query, QString& message) const;
  // Fills the fields from a query (the folder too).
  void SetQuery(const SearchQuery& query);

  QComboBox* Folder;
  QComboBox* Masks;
  QComboBox* Text;
  QCheckBox* Regex;
  QCheckBox* MatchCase;
  QComboBox* Encoding;  // 自動, UTF-8, CP932, EUC-JP, UTF-16
  QLineEdit* MinSize;   // KB, empty for no bound
  QLineEdit* MaxSize;
  QCheckBox* FromOn;
  QDateEdit* From;
  QCheckBox* ToOn;
  QDateEdit* To;  // the last day that counts
  QCheckBox* Hidden;
  QCheckBox* Links;
  QCheckBox* Mounts;
  QCheckBox* Binary;
  QPushButton* Start;
  QPushButton* Cancel;

 private:
  void Accept();
};
