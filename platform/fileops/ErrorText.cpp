#include "platform/fileops/ErrorText.h"

#include <cerrno>
#include <cstring>

#include "platform/namespace/ShellFolderBase.h"

// Worded as the desktop's Japanese messages word them, so a failure reads the
// same as anywhere else on the user's screen.
std::string SystemErrorText(int error) {
  switch (error) {
    case 0:
      return "操作は正常に終了しました。";
    case EACCES:
    case EPERM:
      return "アクセスが拒否されました。";
    case ENOSPC:
      return "ディスクに十分な空き領域がありません。";
    case EDQUOT:
      return "ディスク クォータを超えました。";
    case ENOENT:
      return "指定されたファイルが見つかりません。";
    case ENAMETOOLONG:
      return "ファイル名が長すぎます。";
    case EROFS:
      return "メディアは書き込み禁止になっています。";
    case EEXIST:
      return "同じ名前のファイルが既にあります。";
    case EISDIR:
      return "指定された名前はフォルダーです。";
    case ENOTDIR:
      return "パスの途中にフォルダーでないものがあります。";
    case EBUSY:
      return "ファイルは別のプロセスが使用中のため、アクセスできません。";
    case ETXTBSY:
      return "実行中のプログラムのファイルは変更できません。";
    case EXDEV:
      return "別のドライブに移動することはできません。";
    case ENOTEMPTY:
      return "フォルダーが空ではありません。";
    case EIO:
      return "I/O デバイス エラーのため、要求を実行できませんでした。";
    case ELOOP:
      return "シンボリック リンクの階層が深すぎます。";
    case EINVAL:
      return "パラメーターが間違っています。";
    case EMFILE:
    case ENFILE:
      return "開いているファイルが多すぎます。";
    case ENOMEM:
      return "メモリが不足しています。";
    case EFBIG:
      return "ファイルが大きすぎます。";
    case EMLINK:
      return "リンクの数が多すぎます。";
    case ENODEV:
    case ENXIO:
      return "指定されたデバイスが見つかりません。";
    case ESTALE:
      return "ネットワーク上のファイルは使用できなくなりました。";
    case ETIMEDOUT:
      return "操作がタイムアウトしました。";
    case EOPNOTSUPP:
      return "この操作はサポートされていません。";
    case ECANCELED:
      return "操作は取り消されました。";
    case EAGAIN:
      return "リソースが一時的に使用できません。";
    case EINTR:
      return "操作が中断されました。";
    case kErrorChangedMeanwhile:
      return "ファイルは操作中に別のプログラムによって変更されました。";
    case kErrorNotConfirmed:
      return "移動先のファイルが移動元と同じであることを確認できませんでした。移動元のファイルは残してあります。";
    default:
      break;
  }
  char buffer[256];
  // The GNU strerror_r returns its text, which need not be in buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return std::string(text ? text : "Unknown error") + " (エラー " + std::to_string(error) + ")";
}

std::string RenameErrorText(const std::string& newName, int error) {
  std::string reason;
  if (newName.empty())
    reason = "名前を入力してください。";
  else if (!IsValidChildName(newName))
    reason = "この名前は使えません。名前に / は含められず、. と .. は使えません。";
  else
    reason = SystemErrorText(error);
  return "名前を変更できません。\n" + reason;
}
