// Opening what Enter opens, and the terminals F11 tries.
#include <QProcess>
#include <cstdlib>

#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "platform/desktop/OpenWith.h"

void TForm1::OpenItem(const std::string& path) {
  if (path.empty() || OpenOnFusePath(*this, path)) return;
  switch (OpenDocument(path)) {
    case OpenResult::kOpened:
      return;
    case OpenResult::kNoApplication:
      Hooks.OfferOpenWith(path, QStringLiteral("「%1」を開くアプリケーションが登録されていません。"));
      return;
    case OpenResult::kFailed:
      Hooks.OfferOpenWith(path, QStringLiteral("「%1」を既定のアプリケーションで開けませんでした。"));
      return;
  }
}

std::vector<std::vector<std::string>> TForm1::TerminalCommands() {
  std::vector<std::vector<std::string>> commands;
  if (const char* value = std::getenv("TERMINAL"); value && *value) {
    std::vector<std::string> command;
    for (const QString& word : QProcess::splitCommand(QString::fromLocal8Bit(value)))
      command.push_back(word.toLocal8Bit().toStdString());
    if (!command.empty()) commands.push_back(command);
  }
  commands.push_back({"x-terminal-emulator"});
  return commands;
}
