#pragma once
// Private servers for the network tests, on 127.0.0.1 only and gone after
// them: an OpenSSH sshd on a free port with a throwaway host key, users of its
// own (a passwd and shadow bound over the system's inside a mount namespace of
// sshd's alone, so the machine's users are never touched), an ssh-agent with a
// throwaway user key, and a D-Bus session (dbus-run-session) in which GVfs runs.
// GIO reads the session's address once per process: the session is set up
// before any test touches GIO and lasts until the program ends.
#include <sys/types.h>

#include <string>
#include <vector>

class SshServer {
 public:
  SshServer() = default;
  ~SshServer() { Kill(); }
  SshServer(const SshServer&) = delete;
  SshServer& operator=(const SshServer&) = delete;

  // Starts sshd on a free port with the files in folder; false with why.
  bool Start(const std::string& folder, std::string& why);
  // Ends the server and every session it runs, at once (a server that dies).
  void Kill();
  // Stops the server and its sessions where they are (SIGSTOP), or lets them
  // go on: a server that stalls answers nothing and closes nothing.
  void Pause(bool stopped);
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

class NetworkServers {
 public:
  static constexpr const char* kKeyUser = "tolvkey";
  static constexpr const char* kPasswordUser = "tolvpw";
  static constexpr const char* kPassword = "Sesame-42 open";

  // Started on first use; skipReason says why not.
  static NetworkServers& Get();
  // Before the first Get: GVfs runs without its FUSE daemon, so locations get no path.
  static void WithoutFuse() { fuse_ = false; }
  static bool Fuse() { return fuse_; }
  ~NetworkServers() { Stop(); }
  // Unmounts, ends the servers and removes their files; the test program's end calls it.
  void Stop();

  std::string skipReason;
  // The server's files: its users' home, where the tests make remote folders.
  std::string Remote() const { return root_ + "/remote"; }
  // sftp://user@127.0.0.1:PORT + path (path begins with '/').
  std::string Uri(const std::string& user, const std::string& path, int port = 0) const;
  // The folder with the keys and users, for a second server.
  const std::string& Root() const { return root_; }
  int Port() const { return sshd_.Port(); }
  // Unmounts every location mounted so far (between tests).
  void UnmountAll();
  // GVfs never checks the host key of a server on 127.0.0.1; while this is
  // on, the ssh it runs does, against a known_hosts of the servers' own
  // (KnownHosts(), emptied when it is turned on).
  void CheckHostKeys(bool on);
  std::string KnownHosts() const { return root_ + "/known_hosts"; }

 private:
  NetworkServers();
  bool Start(std::string& why);

  std::string root_;
  SshServer sshd_;
  pid_t agent_ = -1;
  pid_t session_ = -1;
  static inline bool fuse_ = true;
};

// Runs argv with extra environment entries, in its own process group; the pid or -1.
pid_t SpawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Runs argv to its end; its exit status, -1 when it could not run.
int RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
