#pragma once
// Synchronising two folders from a comparison: a plan of one line per entry
// (copy to the right, to the left, skip, or, only when the user sets it on
// that very line, delete), carried out as ordinary copy jobs of the file
// engine. A file that a copy replaces goes to the recycle bin first, and the
// whole run is one undo step: undoing removes the copies and brings the
// replaced and deleted files back.
#include <string>
#include <vector>

#include "platform/fileops/FolderCompare.h"

class IFileOperationUI;
class QWidget;

enum class SyncAction { Skip, ToRight, ToLeft, DeleteLeft, DeleteRight };

struct SyncLine {
  std::string path;  // relative
  CompareState state = CompareState::Equal;
  CompareSide left, right;
  SyncAction action = SyncAction::Skip;
};

// The plan a comparison suggests: the side that is new or newer is copied
// across; everything else is skipped; nothing is deleted.
std::vector<SyncLine> PlanSync(const CompareResult& result);
// What a line may be set to.
std::vector<SyncAction> SyncChoices(const SyncLine& line);
const char* SyncActionText(SyncAction action);

struct SyncOutcome {
  int code = 0;  // 0, or the FO_ERROR_* of the first job that did not succeed
  size_t copied = 0, trashed = 0;
};

// Carries out the plan between the two folders (questions through ui; null:
// the dialogs), recording one undo step.
SyncOutcome RunSync(const std::string& left, const std::string& right, const std::vector<SyncLine>& lines,
                    IFileOperationUI* ui, QWidget* owner);
