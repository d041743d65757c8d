#pragma once
// The destination folder, reached only beneath itself: the kernel refuses any path that
// leaves it or passes a symbolic link (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS,
// or one component at a time with O_NOFOLLOW where openat2 is missing), so no link in the
// archive or already on disk can send a file elsewhere, and no other process can swap one
// in between a check and the write.
#include <string>

namespace arc {

class DestinationTree {
 public:
  DestinationTree() = default;
  ~DestinationTree();
  DestinationTree(const DestinationTree&) = delete;
  DestinationTree& operator=(const DestinationTree&) = delete;

  // False when the folder cannot be opened.
  bool Open(const std::string& root);
  int root() const { return root_; }
  // The folder relDir below the root ("" for the root), made with its parents as needed
  // (mode 0777 less the umask). -1 with errno: ELOOP or EXDEV when a link or ".." is in
  // the way. made tells whether the folder itself was made by this call.
  int Folder(const std::string& relDir, bool* made = nullptr);
  // A descriptor of its own (the caller closes it) for an existing folder below the root.
  int OpenFolder(const std::string& relDir);
  // Forgets the folder kept open (after something else changed the tree).
  void Forget();

 private:
  int OpenBeneath(int dirFd, const std::string& rel);

  int root_ = -1;
  std::string cachedRel_;
  int cachedFd_ = -1;
};

}  // namespace arc
