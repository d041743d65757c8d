#pragma once
// The keys of the main window in one place: the dispatch connects and runs
// what these tables hold, and the key list (F12) is made from the same rows,
// so what the list says and what the keys do cannot part ways.
#include <QDialog>
#include <QKeySequence>
#include <QString>
#include <Qt>
#include <vector>

class QTableWidget;

// Virtual-key codes of the keys the tables name.
namespace vk {
constexpr int kBackspace = 8;
constexpr int kEnter = 13;
constexpr int kEscape = 27;
constexpr int kFindKey = 70;  // F
constexpr int kKeyK = 75;
constexpr int kKeyM = 77;
constexpr int kKeyP = 80;
constexpr int kKeyY = 89;
constexpr int kF11 = 122;
constexpr int kF12 = 123;
constexpr int kComma = 188;
constexpr int kPeriod = 190;
constexpr int kRootKey = 220;  // backslash, yen
}  // namespace vk

class TForm1;
class TPane;
class TShellActionList;
class TShellListView;

// A letter command: "C" runs on one press, "CC" on two.
struct TLetterCommand {
  const char* name;
  void (*run)(TForm1& form);
  const char* text;  // what it does, as the key list says it
};

// A key of a focused folder list other than the letters and digits.
struct TListKey {
  int virtualKey;
  Qt::KeyboardModifiers modifiers;  // exactly these, unless anyModifiers
  bool anyModifiers;
  const char* keys;  // the key as the key list names it
  void (*run)(TForm1& form, TPane& pane);
  const char* text;
};

// A group of keys the shortcut hook reads by range (F1..F10, digits, Shift
// and Alt with a letter); listed as a group.
struct TKeyGroup {
  const char* keys;
  const char* text;
};

// A shortcut of the shell actions, by the action's object name.
struct TActionShortcut {
  const char* action;
  QKeySequence keys;
};

const std::vector<TLetterCommand>& LetterCommands();
const std::vector<TListKey>& ListKeys();
const std::vector<TKeyGroup>& KeyGroups();
const std::vector<TActionShortcut>& ActionShortcuts();

// The list key for a key and its modifiers: an exact match first, then a key
// that takes any modifiers; null for none.
const TListKey* FindListKey(int virtualKey, Qt::KeyboardModifiers modifiers);

struct TKeyRow {
  QString keys;
  QString text;
};
// Every row of the key list, in the order shown: letters, key groups, list
// keys, then the shortcuts the shell actions carry now (caption without its
// mnemonic).
std::vector<TKeyRow> KeyTableRows(const TShellActionList* actions);

// The key list: a window of its own that stays open beside the main window.
//   object names: keyTableDialog, keyTable
class TKeyTableDialog : public QDialog {
  Q_OBJECT
 public:
  TKeyTableDialog(QWidget* parent, const std::vector<TKeyRow>& rows);
  QTableWidget* Table() const { return table_; }

 private:
  QTableWidget* table_ = nullptr;
};
