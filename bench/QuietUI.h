#pragma once
// A file-operation UI for the benchmarks: answers yes to everything; an error
// cancels the job and is printed, so nothing waits for a click.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/fileops/FileOperation.h"

namespace bench {

class QuietUI : public IFileOperationUI {
 public:
  bool ConfirmDelete(const std::vector<std::string>&, bool) override { return true; }
  bool ConfirmPermanentDelete(const std::string&) override { return true; }
  ConflictAnswer AskReplace(const FileFacts&, const FileFacts&) override { return ConflictAnswer::YesToAll; }
  ErrorAnswer AskError(const std::string& path, const std::string& action, int error) override {
    std::fprintf(stderr, "error: %s %s: errno %d\n", action.c_str(), path.c_str(), error);
    return ErrorAnswer::Cancel;
  }
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  bool ConfirmEmptyTrash(uint64_t) override { return true; }
};

}  // namespace bench
