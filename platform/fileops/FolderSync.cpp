#include "platform/fileops/FolderSync.h"

#include <algorithm>
#include <map>

#include "platform/fileops/FileOperation.h"
#include "platform/namespace/ShellFolderBase.h"

namespace {

std::string Join(const std::string& folder, const std::string& rel) {
  return rel.empty() ? folder : JoinPath(folder, rel);
}

std::string ParentOf(const std::string& rel) {
  size_t slash = rel.rfind('/');
  return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

bool Allowed(const SyncLine& line, SyncAction action) {
  std::vector<SyncAction> choices = SyncChoices(line);
  return std::find(choices.begin(), choices.end(), action) != choices.end();
}

}  // namespace

std::vector<SyncLine> PlanSync(const CompareResult& result) {
  std::vector<SyncLine> lines;
  for (const CompareEntry& e : result.entries) {
    SyncLine line;
    line.path = e.path;
    line.state = e.state;
    line.left = e.left;
    line.right = e.right;
    switch (e.state) {
      case CompareState::OnlyLeft:
      case CompareState::NewerLeft:
        line.action = SyncAction::ToRight;
        break;
      case CompareState::OnlyRight:
      case CompareState::NewerRight:
        line.action = SyncAction::ToLeft;
        break;
      default:
        line.action = SyncAction::Skip;
    }
    if (!Allowed(line, line.action)) line.action = SyncAction::Skip;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<SyncAction> SyncChoices(const SyncLine& line) {
  std::vector<SyncAction> choices{SyncAction::Skip};
  // A changed or unreadable file is compared again before it is copied.
  if (line.state == CompareState::Changed || line.state == CompareState::Unreadable) return choices;
  // A file never replaces a folder, nor a folder a file.
  bool sameKind = !(line.left.present && line.right.present) || line.left.folder == line.right.folder;
  bool foldersBoth = line.left.present && line.right.present && line.left.folder;
  if (sameKind && !foldersBoth) {
    if (line.left.present) choices.push_back(SyncAction::ToRight);
    if (line.right.present) choices.push_back(SyncAction::ToLeft);
  }
  if (line.left.present) choices.push_back(SyncAction::DeleteLeft);
  if (line.right.present) choices.push_back(SyncAction::DeleteRight);
  return choices;
}

const char* SyncActionText(SyncAction action) {
  switch (action) {
    case SyncAction::Skip:
      return "何もしない";
    case SyncAction::ToRight:
      return "左 → 右へコピー";
    case SyncAction::ToLeft:
      return "右 → 左へコピー";
    case SyncAction::DeleteLeft:
      return "左を削除 (ごみ箱)";
    case SyncAction::DeleteRight:
      return "右を削除 (ごみ箱)";
  }
  return "";
}

SyncOutcome RunSync(const std::string& left, const std::string& right, const std::vector<SyncLine>& lines,
                    IFileOperationUI* ui, QWidget* owner) {
  SyncOutcome outcome;
  FileOperationJournal& journal = FileOperationJournal::Instance();
  const uint64_t mark = journal.Mark();
  std::vector<std::string> trash;
  size_t acted = 0;
  // (to the right?, folder relative to both) -> sources
  std::map<std::pair<bool, std::string>, std::vector<std::string>> copies;
  for (const SyncLine& line : lines) {
    if (line.action == SyncAction::Skip || !Allowed(line, line.action)) continue;
    bool toRight = line.action == SyncAction::ToRight;
    ++acted;
    switch (line.action) {
      case SyncAction::ToRight:
      case SyncAction::ToLeft:
        // What the copy would replace goes to the recycle bin, to come back on undo.
        if (toRight ? line.right.present : line.left.present) trash.push_back(Join(toRight ? right : left, line.path));
        copies[{toRight, ParentOf(line.path)}].push_back(Join(toRight ? left : right, line.path));
        break;
      case SyncAction::DeleteLeft:
        trash.push_back(Join(left, line.path));
        break;
      case SyncAction::DeleteRight:
        trash.push_back(Join(right, line.path));
        break;
      case SyncAction::Skip:
        break;
    }
  }
  auto run = [&](uint32_t function, std::vector<std::string> sources, const std::string& destination) {
    FileOperationRequest request;
    request.function = function;
    request.sources = std::move(sources);
    request.destination = destination;
    request.flags = FOF_ALLOWUNDO;
    request.owner = owner;
    FileOperationResult result = RunFileOperation(request, ui);
    if (result.code != 0 && outcome.code == 0) outcome.code = result.code;
    return result.code;
  };
  if (!trash.empty()) {
    outcome.trashed = trash.size();
    if (run(FO_DELETE, trash, std::string()) == FO_ERROR_CANCELLED) copies.clear();
  }
  for (auto& [where, sources] : copies) {
    size_t count = sources.size();
    int code = run(FO_COPY, std::move(sources), Join(where.first ? right : left, where.second));
    if (code == 0) outcome.copied += count;
    if (code == FO_ERROR_CANCELLED) break;
  }
  journal.JoinSince(mark, "同期 (" + std::to_string(acted) + " 項目)");
  return outcome;
}
