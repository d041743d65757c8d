#include "platform/system/LocalInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

// A folder of ours that nobody else can enter or write (lstat: a link does not count).
bool PrivateFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && path[0] == '/' && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

bool PeerIsUs(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == ::getuid();
}

// 64-bit FNV-1a: the same on every build, unlike std::hash.
uint64_t StableHash(const std::string& text) {
  uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

// A peer that went away is an error here, never a SIGPIPE that ends the program.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string UserRuntimeFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && PrivateFolder(runtime)) return runtime;
  const std::string fallback = "/tmp/tolvane-" + std::to_string(::getuid());
  if (::mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) return {};
  return PrivateFolder(fallback) ? fallback : std::string();
}

std::string InstanceSocketPath(const std::string& stateFolder) {
  const std::string folder = UserRuntimeFolder();
  if (folder.empty() || stateFolder.empty()) return {};
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(stateFolder, error);
  char name[40];
  std::snprintf(name, sizeof name, "/tolvane-%016llx.sock",
                static_cast<unsigned long long>(StableHash(error ? stateFolder : canonical.string())));
  std::string path = folder + name;
  sockaddr_un address;
  return FillAddress(path, address) ? path : std::string();
}

TInstanceLock::TInstanceLock(const std::string& socketPath) {
  if (socketPath.empty()) return;
  fd_ = ::open((socketPath + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  // A start that hangs while holding it must not stop every later start.
  for (int tries = 0; tries < 250; ++tries) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    ::usleep(20000);
  }
  ::close(fd_);
  fd_ = -1;
}

TInstanceLock::~TInstanceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

THandOver HandOverToInstance(const std::string& socketPath, const std::string& message, int timeoutMs) {
  sockaddr_un address;
  if (!FillAddress(socketPath, address)) return THandOver::kNoInstance;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return THandOver::kNoInstance;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || !PeerIsUs(fd)) {
    ::close(fd);
    return THandOver::kNoInstance;
  }
  THandOver result = THandOver::kNoAnswer;
  if (WriteAll(fd, message.data(), message.size()) && ::shutdown(fd, SHUT_WR) == 0) {
    pollfd wait{fd, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&wait, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    char answer = 0;
    if (ready > 0 && ::read(fd, &answer, 1) == 1 && answer == '1') result = THandOver::kDelivered;
  }
  ::close(fd);
  return result;
}

// --- The listening side ---------------------------------------------------------------

struct TInstanceServer::Connection {
  std::string data;
  // Children of the server, deleted later: they may be the ones signalling.
  QSocketNotifier* notifier = nullptr;
  QTimer* deadline = nullptr;
};

TInstanceServer::TInstanceServer(QObject* parent) : QObject(parent) {}

TInstanceServer::~TInstanceServer() {
  // Each notifier goes before its descriptor closes.
  for (const auto& [fd, connection] : connections_) {
    delete connection->notifier;
    delete connection->deadline;
    ::close(fd);
  }
  if (fd_ < 0) return;
  delete notifier_;
  ::close(fd_);
  // Only the socket this one made: a later instance may have replaced it.
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
}

bool TInstanceServer::Listen(const std::string& socketPath) {
  sockaddr_un address;
  if (fd_ >= 0 || !FillAddress(socketPath, address)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (bound != 0 && errno == EADDRINUSE) {
    // Nobody answered there (the caller tried first): a crash left it behind.
    // Only a socket of ours is removed, never whatever else has that name.
    struct stat st;
    if (::lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid()) {
      ::unlink(socketPath.c_str());
      bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
  }
  struct stat st;
  if (bound != 0 || ::listen(fd, 16) != 0 || ::lstat(socketPath.c_str(), &st) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = socketPath;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Accept(); });
  return true;
}

void TInstanceServer::Accept() {
  for (;;) {
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (!PeerIsUs(fd)) {
      ::close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(connection->notifier, &QSocketNotifier::activated, this, [this, fd] { Read(fd); });
    // A sender that never finishes is not waited for.
    connection->deadline = new QTimer(this);
    connection->deadline->setSingleShot(true);
    connect(connection->deadline, &QTimer::timeout, this, [this, fd] { Drop(fd); });
    connection->deadline->start(10000);
    connections_[fd] = std::move(connection);
  }
}

void TInstanceServer::Read(int fd) {
  auto found = connections_.find(fd);
  if (found == connections_.end()) return;
  Connection& connection = *found->second;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;  // more to come
    if (n == 0) break;  // the whole message
    connection.data.append(buffer, static_cast<size_t>(n));
    if (connection.data.size() > kMaxMessage) {
      Drop(fd);
      return;
    }
  }
  std::string message = std::move(connection.data);
  // Taken: the sender may go now, whatever the handler then asks the user.
  WriteAll(fd, "1", 1);
  Drop(fd);
  if (OnMessage) OnMessage(message);
}

void TInstanceServer::Drop(int fd) {
  auto found = connections_.find(fd);
  if (found == connections_.end()) return;
  Connection& connection = *found->second;
  connection.notifier->setEnabled(false);
  connection.notifier->deleteLater();
  connection.deadline->stop();
  connection.deadline->deleteLater();
  connections_.erase(found);
  ::close(fd);
}
