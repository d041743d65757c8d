#include "app/KeyTable.h"

#include <QAction>
#include <QDialogButtonBox>
#include <algorithm>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/LocationOpener.h"
#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "shell/actions/ActionDispatch.h"
#include "shell/actions/ShellActns.h"

using namespace vk;

const std::vector<TLetterCommand>& LetterCommands() {
  static const std::vector<TLetterCommand> commands = {
      {"B", &BExecute, "選択した項目をバイナリエディタで開く"},
      {"C", &CExecute, "選択した項目をコピー（コピー先をメニューから選ぶ）"},
      {"CC", &CCExecute, "選択した項目を反対側のフォルダへコピー"},
      {"D", &DExecute, "選択した項目をごみ箱へ削除"},
      {"DD", &DDExecute, "ごみ箱を空にする"},
      {"E", &EExecute, "選択した項目をテキストエディタで開く"},
      {"EE", &EEExecute, "選択した項目を2番目のエディタで開く"},
      {"F", &FExecute, "選択したフォルダをフォルダバーに追加"},
      {"G", &GExecute, "フォルダを読み直す"},
      {"H", &HExecute, "フォルダの履歴（メニュー）"},
      {"HH", &HHExecute, "ファイルの履歴（メニュー）"},
      {"J", &JExecute, "フォルダバーのフォルダへジャンプ（メニュー）"},
      {"K", &KExecute, "新しいフォルダを作る"},
      {"L", &LExecute, "フォーカスした項目のフォルダメニュー"},
      {"M", &MExecute, "選択した項目を移動（移動先をメニューから選ぶ）"},
      {"MM", &MMExecute, "選択した項目を反対側のフォルダへ移動"},
      {"N", &NExecute, "ドライブの一覧（メニュー）"},
      {"O", &OExecute, "反対側のフォルダをこちらにも表示"},
      {"Q", &QExecute, "フォーカスした項目をランチャーバーに追加"},
      {"R", &RExecute, "選択した項目の名前を1つずつ変更"},
      {"S", &SExecute, "表示オプション"},
      {"SS", &SSExecute, "表示を [Sort] の既定値に戻す"},
      {"T", &TExecute, "タブの一覧（メニュー）"},
      {"TT", &TTExecute, "現在のタブを閉じる（最後の1つは残す）"},
      {"U", &UExecute, "フォーカスした書庫を展開"},
      {"V", &VExecute, "フォーカスしたファイルを反対側でプレビュー"},
      {"VV", &VVExecute, "新しいプレビュータブでプレビュー"},
      {"W", &WExecute, "フィルタ欄へ移動"},
      {"WW", &WWExecute, "マスクを *.* に戻す"},
      {"X", &XExecute, "フォーカスしたファイルをパラメータ付きで実行"},
  };
  return commands;
}

const std::vector<TListKey>& ListKeys() {
  static const std::vector<TListKey> keys = {
      {kBackspace, Qt::AltModifier, false, "Alt+BackSpace", &UndoKey, "元に戻す（直前のファイル操作）"},
      {kBackspace, Qt::NoModifier, true, "BackSpace", &ParentFolderKey, "親フォルダへ"},
      {kRootKey, Qt::NoModifier, true, "\\（¥）", &RootFolderKey, "このフォルダを含むドライブのルートへ"},
      {kComma, Qt::NoModifier, true, ",", &CommaKey, "左: フォルダツリーを表示 / 右: 左のペインへ"},
      {kPeriod, Qt::NoModifier, true, ".", &PeriodKey, "左: 右のペインへ / 右: フォルダツリーを表示"},
      {kEnter, Qt::ShiftModifier, false, "Shift+Enter", &NewTabKey, "フォーカスしたフォルダを新しいタブで開く"},
      {kKeyM, Qt::ControlModifier, false, "Ctrl+M", &RenameManyKey, "選択した項目の名前をパターンで一括変更"},
      {kKeyK, Qt::ControlModifier, false, "Ctrl+K", &CompareKey, "左右のフォルダを比較（新しい側を選択）"},
      {kKeyY, Qt::ControlModifier, false, "Ctrl+Y", &SyncKey, "左右のフォルダを同期"},
      {kKeyP, Qt::ControlModifier, false, "Ctrl+P", &PackKey, "選択した項目を反対側のフォルダに圧縮"},
      {kF11, Qt::NoModifier, false, "F11", &TerminalKey, "このフォルダで端末を開く"},
      {kFindKey, Qt::ControlModifier, false, "Ctrl+F", &FindFilesKey, "ファイルを検索（結果は新しいタブに）"},
      {kEscape, Qt::NoModifier, false, "Esc", &StopKey,
       "ネットワークの場所への接続や一覧の読み込み、または検索結果のタブの検索を止める"},
      {kF12, Qt::NoModifier, false, "F12", &KeyTableKey, "キーの一覧（この表）"},
  };
  return keys;
}

const std::vector<TKeyGroup>& KeyGroups() {
  static const std::vector<TKeyGroup> groups = {
      {"Enter", "フォーカスした項目を開く"},
      {"F1〜F10", "ランチャーボタン 1〜10 を起動"},
      {"1〜9, 0", "フォルダボタン 1〜10 のフォルダを表示"},
      {"1〜9, 0 を2回", "選択した項目をフォルダボタンのフォルダへコピー"},
      {"Shift+英字・数字", "その文字で始まる名前だけを表示（a*.*）"},
      {"Alt+英字・数字", "その文字で始まる拡張子だけを表示（*.a*）"},
  };
  return groups;
}

const std::vector<TActionShortcut>& ActionShortcuts() {
  static const std::vector<TActionShortcut> shortcuts = {
      {"ShellFileCut1", QKeySequence(Qt::CTRL | Qt::Key_X)},
      {"ShellFileCopy1", QKeySequence(Qt::CTRL | Qt::Key_C)},
      {"ShellFilePaste1", QKeySequence(Qt::CTRL | Qt::Key_V)},
      {"ShellFileDelete1", QKeySequence(Qt::CTRL | Qt::Key_D)},
      {"ShellFileProperty1", QKeySequence(Qt::ALT | Qt::Key_Return)},
      {"SelectAllItem1", QKeySequence(Qt::CTRL | Qt::Key_A)},
      {"ShellFileSortByName1", QKeySequence(Qt::CTRL | Qt::Key_N)},
      {"ShellFileSortBySize1", QKeySequence(Qt::CTRL | Qt::Key_S)},
      {"ShellFileSortByType1", QKeySequence(Qt::CTRL | Qt::Key_T)},
      {"ShellFileSortByLastWrite1", QKeySequence(Qt::CTRL | Qt::Key_L)},
      {"ShellFileSortByAttr1", QKeySequence(Qt::CTRL | Qt::Key_Z)},
      {"LargeIcon1", QKeySequence()},
      {"SmallIcon1", QKeySequence()},
      {"ListIcon1", QKeySequence()},
      {"ReportIcon1", QKeySequence()},
      {"SwitchViewStyle1", QKeySequence(Qt::CTRL | Qt::Key_H)},
      {"ReverseSelectedItem1", QKeySequence(Qt::CTRL | Qt::Key_R)},
  };
  return shortcuts;
}

const TListKey* FindListKey(int virtualKey, Qt::KeyboardModifiers modifiers) {
  const TListKey* loose = nullptr;
  for (const TListKey& key : ListKeys()) {
    if (key.virtualKey != virtualKey) continue;
    if (!key.anyModifiers && key.modifiers == modifiers) return &key;
    if (key.anyModifiers && !loose) loose = &key;
  }
  return loose;
}

std::vector<TKeyRow> KeyTableRows(const TShellActionList* actions) {
  std::vector<TKeyRow> rows;
  for (const TLetterCommand& command : LetterCommands())
    rows.push_back({QString::fromUtf8(command.name), QString::fromUtf8(command.text)});
  for (const TKeyGroup& group : KeyGroups())
    rows.push_back({QString::fromUtf8(group.keys), QString::fromUtf8(group.text)});
  for (const TListKey& key : ListKeys()) rows.push_back({QString::fromUtf8(key.keys), QString::fromUtf8(key.text)});
  if (actions) {
    static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)|&"));
    for (const TCustomShellAction* action : actions->Actions())
      if (!action->shortcut().isEmpty())
        rows.push_back({action->shortcut().toString(QKeySequence::NativeText), action->text().remove(mnemonic)});
  }
  return rows;
}

TKeyTableDialog::TKeyTableDialog(QWidget* parent, const std::vector<TKeyRow>& rows) : QDialog(parent) {
  setObjectName(QStringLiteral("keyTableDialog"));
  setWindowTitle(QStringLiteral("キーの一覧"));
  auto* layout = new QVBoxLayout(this);
  table_ = new QTableWidget(static_cast<int>(rows.size()), 2, this);
  table_->setObjectName(QStringLiteral("keyTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral("キー"), QStringLiteral("コマンド")});
  table_->verticalHeader()->hide();
  // One line a row, so that most of the table fits without scrolling.
  table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    table_->setItem(i, 0, new QTableWidgetItem(rows[i].keys));
    table_->setItem(i, 1, new QTableWidgetItem(rows[i].text));
  }
  table_->resizeColumnsToContents();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  // Wide enough for the longest row, tall enough for most of them.
  const int width = table_->horizontalHeader()->length() + table_->frameWidth() * 2 + 40;
  resize(std::max(width, 480), 640);
}
