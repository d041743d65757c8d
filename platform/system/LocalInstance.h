#pragma once
// One running program per state folder: the running one listens on a local
// socket in the user's runtime folder, and a second start hands it a message
// there and ends. Only processes of the same user are heard, both ways.
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>

class QSocketNotifier;

// $XDG_RUNTIME_DIR when it is a folder of ours that no one else may enter;
// else /tmp/tolvane-<uid>, made so. Empty when neither can be trusted.
std::string UserRuntimeFolder();
// The socket of the program whose state lives in stateFolder (the same
// folder reached by another spelling gives the same socket); empty when
// there is no runtime folder or the name would not fit a socket address.
std::string InstanceSocketPath(const std::string& stateFolder);

// Held while a start decides whether it hands over or listens, so that two
// starts at once do not both listen. Gives up waiting after a few seconds.
class TInstanceLock {
 public:
  explicit TInstanceLock(const std::string& socketPath);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

 private:
  int fd_ = -1;
};

enum class THandOver {
  kDelivered,   // the running program took the message
  kNoInstance,  // nobody listens (no socket, or a stale one)
  kNoAnswer,    // someone listens but did not take it in time
};
THandOver HandOverToInstance(const std::string& socketPath, const std::string& message, int timeoutMs);

// The listening side, on the thread that makes it (the GUI thread).
class TInstanceServer : public QObject {
  Q_OBJECT
 public:
  explicit TInstanceServer(QObject* parent = nullptr);
  ~TInstanceServer() override;
  // Listens on socketPath; a socket file of ours that nobody answers on is a
  // leftover of a crash and is replaced. false when it cannot listen.
  bool Listen(const std::string& socketPath);
  // A whole message arrived; the sender is told once this returns.
  std::function<void(const std::string& message)> OnMessage;

  static constexpr size_t kMaxMessage = 1 << 20;

 private:
  struct Connection;
  void Accept();
  void Read(int fd);
  void Drop(int fd);

  int fd_ = -1;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  QSocketNotifier* notifier_ = nullptr;
  std::map<int, std::unique_ptr<Connection>> connections_;
};
