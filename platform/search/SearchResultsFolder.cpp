#include "platform/search/SearchResultsFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/NameCompare.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"

namespace {

std::mutex storesMutex;
std::map<std::string, std::shared_ptr<SearchResults>, std::less<>> stores;

std::string_view NameOf(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view FolderOf(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

class HitEnum : public IEnumIDList {
 public:
  explicit HitEnum(std::vector<PItemIDList> ids) : ids_(std::move(ids)) {}
  ~HitEnum() override {
    for (size_t i = next_; i < ids_.size(); ++i) FreeIDList(ids_[i]);
  }
  bool Next(PItemIDList& id) override {
    id = next_ < ids_.size() ? ids_[next_++] : nullptr;
    return id != nullptr;
  }

 private:
  std::vector<PItemIDList> ids_;
  size_t next_ = 0;
};

class SearchResultsFolder : public ShellFolderBase {
 public:
  SearchResultsFolder(IDListPtr absolute, SearchQuery query, std::string key)
      : ShellFolderBase(std::move(absolute), {}), query_(std::move(query)), store_(SearchResults::Of(key)) {}

  bool ParseDisplayName(std::string_view name, PItemIDList& list) override {
    list = nullptr;
    for (const SearchHit& hit : store_->Hits())
      if (hit.path == name) return (list = MakePathEntryID(hit.path, hit.folder ? itemflag::kFolder : 0)) != nullptr;
    return false;
  }

  std::unique_ptr<IEnumIDList> EnumObjects(uint32_t flags) override {
    std::vector<PItemIDList> ids;
    stats_.clear();
    for (const SearchHit& hit : store_->Hits()) {
      struct stat st;
      // A file that went is no row, but stays a hit: an undo may bring it back.
      if (lstat(hit.path.c_str(), &st) != 0) continue;
      uint8_t idFlags = 0;
      if (S_ISLNK(st.st_mode)) {
        idFlags |= itemflag::kLink;
        struct stat target;
        if (stat(hit.path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) idFlags |= itemflag::kFolder;
      } else if (S_ISDIR(st.st_mode)) {
        idFlags |= itemflag::kFolder;
      }
      bool folder = idFlags & itemflag::kFolder;
      if (!(flags & (folder ? SHCONTF_FOLDERS : SHCONTF_NONFOLDERS))) continue;
      if (PItemIDList id = MakePathEntryID(hit.path, idFlags)) {
        ids.push_back(id);
        stats_[hit.path] = ToFileStat(st);
      }
    }
    return std::make_unique<HitEnum>(std::move(ids));
  }

 protected:
  int CompareChildren(int column, PCItemIDList a, PCItemIDList b) override {
    if (IDKind(a) != ItemKind::PathEntry || IDKind(b) != ItemKind::PathEntry) return CompareFirstIDBytes(a, b);
    bool fa = IDFlags(a) & itemflag::kFolder, fb = IDFlags(b) & itemflag::kFolder;
    if (fa != fb) return fa ? -1 : 1;
    std::string_view pa = IDPayloadText(a), pb = IDPayloadText(b);
    int r = 0;
    switch (column) {
      case 1:
        r = Order(Stat(pa).size, Stat(pb).size);
        break;
      case 2:
        r = CompareNames(NameExtension(NameOf(pa)), NameExtension(NameOf(pb)));
        break;
      case 3:
        r = Order(Stat(pa).mtime, Stat(pb).mtime);
        break;
      case 4:
        r = Order(Stat(pa).mode, Stat(pb).mode);
        break;
      default:
        break;
    }
    if (r == 0) r = CompareNames(NameOf(pa), NameOf(pb));
    if (r == 0) r = CompareNames(FolderOf(pa), FolderOf(pb));
    return r;
  }

  uint32_t ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext&) override {
    if (IDKind(id) != ItemKind::PathEntry) return 0;
    std::string path(IDPayloadText(id));
    uint8_t flags = IDFlags(id);
    bool folder = flags & itemflag::kFolder;
    uint32_t a = SFGAO_FILESYSTEM | SFGAO_CANCOPY | SFGAO_CANLINK | SFGAO_HASPROPSHEET;
    if (folder) a |= SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR;
    if (flags & itemflag::kLink) a |= SFGAO_LINK;
    if (flags & itemflag::kHidden) a |= SFGAO_HIDDEN;
    // Each row has a folder of its own: moving, renaming and deleting change that one.
    if ((asked & (SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE)) &&
        access(std::string(FolderOf(path)).c_str(), W_OK) == 0)
      a |= SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE;
    if (folder && (asked & SFGAO_DROPTARGET) && access(path.c_str(), W_OK) == 0) a |= SFGAO_DROPTARGET;
    struct stat st;
    if ((asked & SFGAO_READONLY) && lstat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) a |= SFGAO_READONLY;
    return a;
  }

  bool ChildName(PCItemIDList id, uint32_t flags, std::string& name) override {
    if (IDKind(id) != ItemKind::PathEntry) return false;
    std::string_view path = IDPayloadText(id);
    if (flags & SHGDN_FORPARSING) {
      name = path;
      return true;
    }
    name = NameOf(path);
    if (flags & SHGDN_FOREDITING) return true;
    // The row says where the file was found, below the folder searched.
    std::string_view folder = FolderOf(path);
    std::string_view root = query_.folder;
    std::string where;
    if (folder == root)
      where = "./";
    else if (folder.size() > root.size() && folder.substr(0, root.size()) == root &&
             (root == "/" || folder[root.size()] == '/'))
      where = std::string(folder.substr(root == "/" ? 1 : root.size() + 1)) + "/";
    else
      where = std::string(folder) + "/";
    name += "    [" + where + "]";
    return true;
  }

  bool RenameChild(PCItemIDList id, std::string_view newName, PItemIDList* newItem) override {
    if (IDKind(id) != ItemKind::PathEntry || !IsValidChildName(newName)) return false;
    std::string path(IDPayloadText(id));
    std::string dir(FolderOf(path));
    if (!RenameNoReplace(dir, NameOf(path), newName)) return false;
    std::string renamed = JoinPath(dir, newName);
    store_->Rename(path, renamed);
    if (newItem) *newItem = MakePathEntryID(renamed, IDFlags(id));
    return true;
  }

  bool ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) override {
    if (IDKind(id) != ItemKind::PathEntry) return false;
    std::string_view path = IDPayloadText(id);
    return FillFindData(std::string(path), NameOf(path), data);
  }

 private:
  // What the last reading saw; a row read before it is looked up on the disk.
  const FileStat& Stat(std::string_view path) {
    auto it = stats_.find(path);
    if (it != stats_.end()) return it->second;
    struct stat st;
    FileStat fs;
    if (lstat(std::string(path).c_str(), &st) == 0) fs = ToFileStat(st);
    return stats_.emplace(std::string(path), fs).first->second;
  }

  SearchQuery query_;
  std::shared_ptr<SearchResults> store_;
  std::map<std::string, FileStat, std::less<>> stats_;
};

}  // namespace

// --- SearchResults ------------------------------------------------------------

std::shared_ptr<SearchResults> SearchResults::Of(const std::string& encodedQuery) {
  std::lock_guard lock(storesMutex);
  auto& store = stores[encodedQuery];
  if (!store) store = std::make_shared<SearchResults>();
  return store;
}

void SearchResults::Drop(const std::string& encodedQuery) {
  std::lock_guard lock(storesMutex);
  stores.erase(encodedQuery);
}

void SearchResults::Add(std::vector<SearchHit>&& hits) {
  std::lock_guard lock(mutex_);
  hits_.insert(hits_.end(), std::make_move_iterator(hits.begin()), std::make_move_iterator(hits.end()));
  ++generation_;
}

void SearchResults::Clear() {
  std::lock_guard lock(mutex_);
  hits_.clear();
  ++generation_;
}

void SearchResults::Rename(const std::string& from, const std::string& to) {
  std::lock_guard lock(mutex_);
  for (SearchHit& hit : hits_)
    if (hit.path == from) hit.path = to;
  ++generation_;
}

std::vector<SearchHit> SearchResults::Hits() const {
  std::lock_guard lock(mutex_);
  return hits_;
}

size_t SearchResults::Count() const {
  std::lock_guard lock(mutex_);
  return hits_.size();
}

uint64_t SearchResults::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

// --- The namespace's side -----------------------------------------------------------

std::string SearchResultsTitle(const SearchQuery& query) {
  std::string title = "検索 " + (query.masks.empty() ? std::string("*") : query.masks);
  if (!query.text.empty()) title += "「" + query.text + "」";
  return title;
}

void RegisterSearchResultsFolders() {
  ResultsFolderKind kind;
  kind.parsePrefix = std::string(kSearchParsePrefix);
  kind.bind = [](PCItemIDList absolute, std::string_view payload) -> ShellFolderPtr {
    SearchQuery query;
    if (!SearchQuery::Decode(payload, query)) return nullptr;
    return std::make_shared<SearchResultsFolder>(IDListPtr(CopyIDList(absolute)), std::move(query),
                                                 std::string(payload));
  };
  kind.displayName = [](std::string_view payload) {
    SearchQuery query;
    return SearchQuery::Decode(payload, query) ? SearchResultsTitle(query) : std::string("検索");
  };
  RegisterResultsFolders(std::move(kind));
}

PItemIDList SearchResultsIDList(const SearchQuery& query) { return MakeResultsID(query.Encode()); }

bool SearchQueryOf(PCItemIDList absolute, SearchQuery& query) {
  if (!absolute || CountIDs(absolute) != 1 || IDKind(absolute) != ItemKind::Results) return false;
  return SearchQuery::Decode(IDPayloadText(absolute), query);
}
