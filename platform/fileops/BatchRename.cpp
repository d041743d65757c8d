#include "platform/fileops/BatchRename.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <random>

#include "platform/fileops/CopyFile.h"
#include "platform/fileops/ErrorText.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/ShellFolderBase.h"

namespace {

std::string Quoted(const std::string& name) { return "「" + name + "」"; }

// A hidden name of our own, never one the part-file sweep would remove.
std::string TemporaryRenameName() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::string name = ".tolvane-rename-";
  for (int i = 0; i < 10; ++i) name += kChars[random() % (sizeof kChars - 1)];
  return name;
}

int64_t Ns(const struct timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

}  // namespace

void BatchRename::CloseFolders() {
  for (int fd : opened_) close(fd);
  opened_.clear();
}

bool BatchRename::Prepare(std::string& why) {
  // Unchanged names are no part of the job.
  std::vector<BatchRenameItem> changing;
  for (BatchRenameItem& item : items_)
    if (item.oldName != item.newName) changing.push_back(std::move(item));
  items_ = std::move(changing);

  std::map<std::string, int> folders;
  std::map<std::pair<int, std::string>, size_t> olds, news;
  for (size_t i = 0; i < items_.size(); ++i) {
    BatchRenameItem& item = items_[i];
    if (!IsValidChildName(item.oldName) || !IsValidChildName(item.newName) ||
        item.newName.rfind(".tolvane-rename-", 0) == 0)
      return why = Quoted(item.newName) + "は使えない名前です。", false;
    auto [it, fresh] = folders.try_emplace(item.folder, -1);
    if (fresh) {
      it->second = open(item.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (it->second < 0) return why = Quoted(item.folder) + "を開けません: " + SystemErrorText(errno), false;
      opened_.push_back(it->second);
    }
    dirFds_.push_back(it->second);
    struct stat st;
    if (fstatat(it->second, item.oldName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return why = Quoted(item.oldName) + "が見つかりません。", false;
    if (item.ino == 0) item.dev = st.st_dev, item.ino = st.st_ino;
    if (st.st_dev != item.dev || st.st_ino != item.ino)
      return why = Quoted(item.oldName) + "は一覧を読んだ後で別の項目に変わっています。", false;
    if (!olds.emplace(std::make_pair(it->second, item.oldName), i).second ||
        !news.emplace(std::make_pair(it->second, item.newName), i).second)
      return why = Quoted(item.newName) + "が二つのファイルの新しい名前になっています。", false;
  }
  // A new name held by something outside the batch stops the job before it starts.
  for (size_t i = 0; i < items_.size(); ++i) {
    struct stat st;
    const BatchRenameItem& item = items_[i];
    if (fstatat(dirFds_[i], item.newName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    auto owner = olds.find({dirFds_[i], item.newName});
    bool self = st.st_dev == item.dev && st.st_ino == item.ino;  // a file system that ignores case
    if (owner == olds.end() && !self) return why = Quoted(item.newName) + "はすでにあります。", false;
  }
  return true;
}

int BatchRename::Move(size_t index, const std::string& from, const std::string& to) {
  if (cancel_.load()) return ECANCELED;
  if (hook_) hook_(stepsDone_.load());
  const BatchRenameItem& item = items_[index];
  struct stat st;
  if (fstatat(dirFds_[index], from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (st.st_dev != item.dev || st.st_ino != item.ino) return ESTALE;
  if (int error = RenameNoReplaceAt(dirFds_[index], from.c_str(), dirFds_[index], to.c_str())) return error;
  log_.push_back({dirFds_[index], from, to, item.dev, item.ino});
  ++stepsDone_;
  return 0;
}

bool BatchRename::RunGraph(std::string& why) {
  const size_t n = items_.size();
  enum State { Pending, AtTemp, Done };
  std::vector<State> state(n, Pending);
  std::vector<std::string> current(n);
  std::map<std::pair<int, std::string>, size_t> byOld;
  for (size_t i = 0; i < n; ++i) {
    current[i] = items_[i].oldName;
    byOld[{dirFds_[i], items_[i].oldName}] = i;
  }
  // waiter[k]: the item whose new name is k's old name; it can go once k has left.
  std::vector<ptrdiff_t> waiter(n, -1);
  std::deque<size_t> ready;
  for (size_t i = 0; i < n; ++i) {
    auto blocker = byOld.find({dirFds_[i], items_[i].newName});
    if (blocker == byOld.end())
      ready.push_back(i);
    else
      waiter[blocker->second] = ptrdiff_t(i);
  }
  auto fail = [&](size_t i, const std::string& to, int error) {
    failedError_ = error;
    if (error == ECANCELED)
      why = "キャンセルしました。";
    else if (error == ESTALE)
      why = Quoted(items_[i].oldName) + "は途中で別の項目に置き換わりました。";
    else
      why = Quoted(items_[i].oldName) + "を" + Quoted(to.rfind(".tolvane-rename-", 0) == 0 ? to : items_[i].newName) +
            "に変更できません: " + SystemErrorText(error);
    return false;
  };
  size_t nextCycle = 0;
  for (size_t done = 0; done < n;) {
    if (ready.empty()) {
      // Only cycles are left: one of them steps aside under a temporary name.
      while (state[nextCycle] != Pending) ++nextCycle;
      size_t i = nextCycle;
      int error = EEXIST;
      for (int attempt = 0; attempt < 5 && error == EEXIST; ++attempt) {
        std::string temp = TemporaryRenameName();
        error = Move(i, current[i], temp);
        if (!error) current[i] = temp;
      }
      if (error) return fail(i, current[i], error);
      state[i] = AtTemp;
      if (waiter[i] >= 0) ready.push_back(size_t(waiter[i]));
      continue;
    }
    size_t i = ready.front();
    ready.pop_front();
    if (int error = Move(i, current[i], items_[i].newName)) return fail(i, items_[i].newName, error);
    bool wasPending = state[i] == Pending;
    state[i] = Done;
    current[i] = items_[i].newName;
    ++done;
    if (wasPending && waiter[i] >= 0) ready.push_back(size_t(waiter[i]));
  }
  return true;
}

std::vector<std::string> BatchRename::Rollback() {
  std::vector<std::string> stuck;
  for (auto it = log_.rbegin(); it != log_.rend(); ++it) {
    struct stat st;
    bool same = fstatat(it->dirFd, it->to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == it->dev &&
                st.st_ino == it->ino;
    if (!same || RenameNoReplaceAt(it->dirFd, it->to.c_str(), it->dirFd, it->from.c_str()) != 0)
      stuck.push_back(Quoted(it->to) + " (元の名前 " + Quoted(it->from) + ")");
  }
  log_.clear();
  return stuck;
}

void BatchRename::RecordUndo() {
  UndoRecord record;
  record.kind = UndoRecord::Rename;
  for (size_t i = 0; i < items_.size(); ++i) {
    const BatchRenameItem& item = items_[i];
    struct stat st;
    if (fstatat(dirFds_[i], item.newName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    UndoItem u;
    u.from = JoinPath(item.folder, item.oldName);
    u.to = JoinPath(item.folder, item.newName);
    u.folder = S_ISDIR(st.st_mode);
    u.size = u.folder ? 0 : uint64_t(st.st_size);
    u.mtimeNs = Ns(st.st_mtim);
    u.dev = st.st_dev;
    u.ino = st.st_ino;
    u.ctimeNs = Ns(st.st_ctim);
    record.items.push_back(std::move(u));
  }
  FileOperationJournal::Instance().Record(std::move(record));
}

BatchRenameResult BatchRename::Run(bool record) {
  BatchRenameResult result;
  std::string why;
  if (!Prepare(why)) {
    CloseFolders();
    result.message = why + "\n何も変更していません。";
    return result;
  }
  if (RunGraph(why)) {
    result.ok = true;
    result.renamed = items_.size();
    if (record && !items_.empty()) RecordUndo();
    CloseFolders();
    return result;
  }
  result.cancelled = failedError_ == ECANCELED;
  std::vector<std::string> stuck = Rollback();
  if (stuck.empty()) {
    result.message = why + "\nすべてのファイルを元の名前に戻しました。";
  } else {
    result.message = why + "\n次の項目は元の名前に戻せませんでした:";
    for (const std::string& s : stuck) result.message += "\n" + s;
  }
  CloseFolders();
  return result;
}
