#include "app/SingleInstance.h"

#include <QPointer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "platform/state/StateFolder.h"
#include "platform/system/Exception.h"
#include "platform/system/LocalInstance.h"
#include "platform/network/Location.h"

namespace {

const std::string kHeader = "tolvane-open 1\n";
constexpr int kAnswerWaitMs = 10000;

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  if (network::IsLocationUri(path)) return path;
  std::error_code error;
  std::string here = std::filesystem::current_path(error).string();
  // A current folder deleted under the shell still has the shell's name for it.
  if (error || here.empty()) here = std::getenv("PWD") ? std::getenv("PWD") : "";
  return here.empty() || here[0] != '/' ? path : here + "/" + path;
}

}  // namespace

std::string EncodeStartPaths(const std::vector<std::string>& left, const std::vector<std::string>& right) {
  std::string message = kHeader;
  for (const auto& [side, paths] : {std::pair{'L', &left}, std::pair{'R', &right}})
    for (const std::string& path : *paths) {
      // A NUL ends each path: it is the one byte no path holds.
      message += side;
      message += Absolute(path);
      message += '\0';
    }
  return message;
}

bool DecodeStartPaths(const std::string& message, std::vector<std::string>& left, std::vector<std::string>& right) {
  left.clear();
  right.clear();
  if (message.compare(0, kHeader.size(), kHeader) != 0) return false;
  size_t at = kHeader.size();
  while (at < message.size()) {
    size_t end = message.find('\0', at);
    if (end == std::string::npos || end == at) return false;
    const char side = message[at];
    std::string path = message.substr(at + 1, end - at - 1);
    if ((side != 'L' && side != 'R') || path.empty() || path[0] != '/') return false;
    (side == 'L' ? left : right).push_back(std::move(path));
    at = end + 1;
  }
  return true;
}

bool HandOverStart(const TCommandLine& line, std::unique_ptr<TInstanceServer>& server, int& exitCode) {
  if (line.newInstance) return false;
  const std::string socket = InstanceSocketPath(StateFolder());
  if (socket.empty()) return false;
  TInstanceLock lock(socket);
  switch (HandOverToInstance(socket, EncodeStartPaths(line.paths, line.rightPaths), kAnswerWaitMs)) {
    case THandOver::kDelivered:
      exitCode = 0;
      return true;
    case THandOver::kNoAnswer:
      std::fputs("tolvane: 実行中の Tolvane が応答しません。別に起動するには --new-instance を付けてください。\n",
                 stderr);
      exitCode = 1;
      return true;
    case THandOver::kNoInstance:
      break;
  }
  server = std::make_unique<TInstanceServer>();
  if (!server->Listen(socket)) server.reset();
  return false;
}

void ServeStarts(TInstanceServer* server, TForm1* form) {
  if (!server || !form) return;
  QPointer<TForm1> window = form;
  server->OnMessage = [window](const std::string& message) {
    std::vector<std::string> left, right;
    if (!window || !DecodeStartPaths(message, left, right)) return;
    Guarded([&] { window->OpenHandedPaths(left, right); });
  };
}
