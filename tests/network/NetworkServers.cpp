#include "NetworkServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/network/Location.h"

namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& text, mode_t mode = 0600) {
  std::ofstream(path) << text;
  ::chmod(path.c_str(), mode);
}

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

bool Listening(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

template <class F>
bool WaitFor(F ready, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ready();
}

// Ends the process group the test started, and waits for its leader.
void EndGroup(pid_t& pid, int signal = SIGTERM) {
  if (pid <= 0) return;
  ::kill(-pid, signal);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace

pid_t SpawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::setpgid(0, 0);
  for (const std::string& entry : env) ::putenv(const_cast<char*>(entry.c_str()));
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

int RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  const pid_t pid = SpawnProcess(argv, env);
  if (pid < 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SshServer::Start(const std::string& folder, std::string& why) {
  port_ = FreePort();
  const std::string config = folder + "/sshd_config." + std::to_string(port_);
  WriteAll(config, "ListenAddress 127.0.0.1\nPort " + std::to_string(port_) + "\nHostKey " + folder +
                       "/hostkey\nPidFile none\nAuthorizedKeysFile " + folder +
                       "/keys/%u\nStrictModes no\nUsePAM no\nPermitRootLogin yes\nPasswordAuthentication yes\n"
                       "KbdInteractiveAuthentication no\nSubsystem sftp internal-sftp\nLogLevel ERROR\n");
  // The throwaway users exist only for this sshd, in its own mount namespace.
  const std::string script = "mount --bind '" + folder + "/passwd' /etc/passwd && mount --bind '" + folder +
                             "/shadow' /etc/shadow && exec /usr/sbin/sshd -D -e -f '" + config + "' 2>>'" + folder +
                             "/sshd.log'";
  ::mkdir("/run/sshd", 0755);
  pid_ = SpawnProcess({"unshare", "--mount", "--propagation", "private", "--", "sh", "-c", script});
  if (pid_ < 0 || !WaitFor([this] { return Listening(port_); })) {
    why = "sshd did not start: " + ReadAll(folder + "/sshd.log");
    Kill();
    return false;
  }
  return true;
}

namespace {

// The processes whose parent is pid.
std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string stat = ReadAll(entry.path().string() + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == pid) children.push_back(std::stoi(entry.path().filename().string()));
  }
  return children;
}

}  // namespace

void SshServer::Kill() {
  if (pid_ <= 0) return;
  // The sessions are sshd's children in other groups: end them by their parent first.
  for (pid_t child : ChildrenOf(pid_)) ::kill(child, SIGKILL);
  EndGroup(pid_, SIGKILL);
}

void SshServer::Pause(bool stopped) {
  if (pid_ <= 0) return;
  std::vector<pid_t> all{pid_};
  for (size_t i = 0; i < all.size(); ++i)
    for (pid_t child : ChildrenOf(all[i])) all.push_back(child);
  for (pid_t pid : all) ::kill(pid, stopped ? SIGSTOP : SIGCONT);
}

NetworkServers& NetworkServers::Get() {
  static NetworkServers servers;
  return servers;
}

NetworkServers::NetworkServers() {
  std::string why;
  if (!Start(why)) skipReason = why;
}

bool NetworkServers::Start(std::string& why) {
  for (const char* tool :
       {"/usr/sbin/sshd", "/usr/bin/ssh-keygen", "/usr/bin/ssh-agent", "/usr/bin/ssh-add", "/usr/bin/dbus-run-session",
        "/usr/libexec/gvfsd-sftp", "/usr/libexec/gvfsd-fuse", "/usr/bin/unshare", "/usr/bin/openssl"})
    if (!Exists(tool) && (fuse_ || std::string(tool) != "/usr/libexec/gvfsd-fuse")) {
      why = std::string(tool) + " is missing (scripts/deps.sh installs openssh-server, dbus, gvfs-backends, gvfs-fuse)";
      return false;
    }
  if (::geteuid() != 0) {
    why = "the throwaway users of sshd need root (a mount namespace for their passwd)";
    return false;
  }
  if (fuse_ && !Exists("/dev/fuse")) {
    why = "no /dev/fuse: GVfs cannot give its locations a path";
    return false;
  }
  char templ[] = "/tmp/tolvane-net-XXXXXX";
  if (!::mkdtemp(templ)) {
    why = "no temporary folder";
    return false;
  }
  root_ = templ;
  ::chmod(root_.c_str(), 0755);
  for (const char* sub : {"/remote", "/keys", "/rt"}) ::mkdir((root_ + sub).c_str(), 0700);
  ::chmod((root_ + "/remote").c_str(), 0755);
  if (RunProcess({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", root_ + "/hostkey"}) != 0 ||
      RunProcess({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", root_ + "/userkey"}) != 0) {
    why = "ssh-keygen failed";
    return false;
  }
  WriteAll(root_ + "/keys/" + kKeyUser, ReadAll(root_ + "/userkey.pub"));
  // Both users are root's uid, so they may read and write what the tests make.
  const std::string home = Remote();
  WriteAll(root_ + "/passwd",
           ReadAll("/etc/passwd") + kKeyUser + ":x:0:0::" + home + ":/bin/sh\n" + kPasswordUser + ":x:0:0::" + home +
               ":/bin/sh\n",
           0644);
  const std::string hashFile = root_ + "/hash";
  const std::string hashCommand = "openssl passwd -6 -stdin > '" + hashFile + "'";
  const pid_t hasher = SpawnProcess({"sh", "-c", "printf '%s' '" + std::string(kPassword) + "' | " + hashCommand});
  ::waitpid(hasher, nullptr, 0);
  std::string hash = ReadAll(hashFile);
  while (!hash.empty() && hash.back() == '\n') hash.pop_back();
  WriteAll(root_ + "/shadow",
           std::string(kKeyUser) + ":*:19000:0:99999:7:::\n" + kPasswordUser + ":" + hash + ":19000:0:99999:7:::\n");
  if (!sshd_.Start(root_, why)) return false;

  const std::string agentSocket = root_ + "/agent.sock";
  agent_ = SpawnProcess({"sh", "-c", "exec ssh-agent -D -a '" + agentSocket + "' > /dev/null"});
  // The socket's file appears before the agent listens on it: a loaded
  // machine refuses the first ssh-add.
  if (!WaitFor([&] { return Exists(agentSocket); }) ||
      !WaitFor(
          [&] {
            return RunProcess({"ssh-add", "-q", root_ + "/userkey"}, {"SSH_AUTH_SOCK=" + agentSocket}) == 0;
          },
          5000)) {
    why = "ssh-agent did not take the key";
    return false;
  }
  // The ssh GVfs runs, found first in its PATH: the real one, told to check
  // host keys while a test asks for it.
  ::mkdir((root_ + "/bin").c_str(), 0755);
  WriteAll(root_ + "/bin/ssh",
           "#!/bin/sh\nif [ -e '" + root_ +
               "/check-host-keys' ]; then\n  exec /usr/bin/ssh -o "
               "NoHostAuthenticationForLocalhost=no -o StrictHostKeyChecking=ask -o UserKnownHostsFile='" +
               KnownHosts() + "' -o GlobalKnownHostsFile=/dev/null \"$@\"\nfi\nexec /usr/bin/ssh \"$@\"\n",
           0755);
  ::setenv("PATH", (root_ + "/bin:" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")).c_str(), 1);
  // What GVfs inherits from the session: its own runtime folder (the FUSE
  // mount goes there) and the agent.
  ::setenv("XDG_RUNTIME_DIR", (root_ + "/rt").c_str(), 1);
  ::setenv("SSH_AUTH_SOCK", agentSocket.c_str(), 1);
  const std::string busFile = root_ + "/bus";
  // The shell inside the session leaves its pid: ending it ends the session
  // the way dbus-run-session expects, which then stops its bus.
  // Without FUSE, gvfsd is on the bus before anyone could start it with its FUSE daemon.
  const std::string gvfsd =
      fuse_ ? "" : "(/usr/libexec/gvfsd --no-fuse &) && gdbus wait --session org.gtk.vfs.Daemon && ";
  session_ =
      SpawnProcess({"dbus-run-session", "--", "sh", "-c",
                    "echo $$ > '" + root_ + "/inner.pid' && " + gvfsd + "echo \"$DBUS_SESSION_BUS_ADDRESS\" > '" +
                        busFile + ".new' && mv '" + busFile + ".new' '" + busFile + "' && exec sleep 100000"});
  if (!WaitFor([&] { return !ReadAll(busFile).empty(); })) {
    why = "dbus-run-session did not start";
    return false;
  }
  std::string bus = ReadAll(busFile);
  while (!bus.empty() && bus.back() == '\n') bus.pop_back();
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
  if (!network::SchemeSupported("sftp")) {
    why = "GIO has no sftp backend in the private session";
    return false;
  }
  return true;
}

std::string NetworkServers::Uri(const std::string& user, const std::string& path, int port) const {
  return "sftp://" + user + "@127.0.0.1:" + std::to_string(port ? port : Port()) + path;
}

void NetworkServers::UnmountAll() {
  for (const network::KnownLocation& location : network::KnownLocations()) network::UnmountLocation(location.uri);
}

void NetworkServers::CheckHostKeys(bool on) {
  const std::string flag = root_ + "/check-host-keys";
  if (on) {
    WriteAll(KnownHosts(), "");
    WriteAll(flag, "");
  } else {
    ::unlink(flag.c_str());
  }
}

void NetworkServers::Stop() {
  if (!root_.empty() && session_ > 0 && skipReason.empty()) UnmountAll();
  // The session's end takes gvfsd, its backends and its FUSE mount along.
  if (session_ > 0) {
    const pid_t inner = static_cast<pid_t>(std::atol(ReadAll(root_ + "/inner.pid").c_str()));
    if (inner > 0) ::kill(inner, SIGTERM);
    if (!WaitFor([&] { return ::waitpid(session_, nullptr, WNOHANG) == session_; }, 5000)) EndGroup(session_);
    session_ = -1;
  }
  const std::string fuse = root_ + "/rt/gvfs ";
  auto mounted = [&] { return ReadAll("/proc/mounts").find(fuse) != std::string::npos; };
  if (!root_.empty() && !WaitFor([&] { return !mounted(); }, 3000))
    RunProcess({"fusermount", "-u", "-z", root_ + "/rt/gvfs"});
  EndGroup(agent_);
  sshd_.Kill();
  if (!root_.empty()) {
    std::error_code error;
    std::filesystem::remove_all(root_, error);
    root_.clear();
  }
}
