// One window per state folder, with the real program started offscreen: a
// second start hands its folders (and --right ones) to the running window and
// ends with 0; --new-instance, another state folder and a socket left by a
// killed run all start a window of their own. And the window side of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTabBar>

#include "FormFixture.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "platform/state/IniFile.h"
#include "platform/state/LineList.h"
#include "platform/system/Library.h"
#include "platform/system/LocalInstance.h"

namespace {

using Lines = std::vector<std::string>;

Lines LinesOf(const std::string& path) {
  TLineList list;
  list.LoadFromFile(path);
  return list.Lines;
}

// The program with its state in state/ of dir and its socket in dir's run/.
class Program {
 public:
  Program(const TempDir& dir, const QString& state = "state") {
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    env_.insert("TOLVANE_HOME", QString::fromStdString(dir / state.toStdString()));
    env_.insert("HOME", QString::fromStdString(dir / "home"));
    env_.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
    env_.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
    env_.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "run"));
    env_.insert("TOLVANE_REPORT_FIRST_PAINT", "1");
    process_.setProcessEnvironment(env_);
    process_.setWorkingDirectory(QString::fromStdString(dir.path()));
  }
  ~Program() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  void Set(const QString& name, const QString& value) {
    env_.insert(name, value);
    process_.setProcessEnvironment(env_);
  }
  void Start(const QStringList& args) { process_.start(QString::fromStdString(ExecutableFolder() + "/tolvane"), args); }
  // Until the window has been painted: by then it listens.
  bool WaitPainted() {
    while (!out_.contains("first-paint")) {
      if (!process_.waitForReadyRead(30000)) return false;
      out_ += process_.readAllStandardOutput();
    }
    return true;
  }
  // Runs to the end; the exit code, -1 for a crash or a hang.
  int Run(const QStringList& args) {
    Start(args);
    return Finish();
  }
  int Finish() {
    if (!process_.waitForFinished(60000)) return -1;
    out_ += process_.readAllStandardOutput();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }
  void Signal(int signal) { kill(static_cast<pid_t>(process_.processId()), signal); }
  QString Out() const { return QString::fromUtf8(out_); }
  QString Err() { return QString::fromUtf8(process_.readAllStandardError()); }

 private:
  QProcessEnvironment env_;
  QProcess process_;
  QByteArray out_;
};

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir((dir / "run").c_str(), 0700);
    one = dir.dir("one");
    two = dir.dir("two");
  }
  TempDir dir;
  std::string one, two;
};

TEST_F(SingleInstanceTest, ASecondStartHandsItsFoldersToTheRunningWindowAndEnds) {
  Program first(dir);
  first.Start({});
  ASSERT_TRUE(first.WaitPainted());

  Program second(dir);
  // A relative name counts from where the second start was made.
  EXPECT_EQ(second.Run({"one", "--right", QString::fromStdString(two)}), 0) << second.Err().toStdString();
  EXPECT_FALSE(second.Out().contains("first-paint"));  // no window of its own

  // Its own folder, its own window; it neither takes nor disturbs the socket.
  Program separate(dir);
  separate.Set("TOLVANE_QUIT_AFTER_MS", "100");
  EXPECT_EQ(separate.Run({"--new-instance", "--right", QString::fromStdString(one)}), 0);
  EXPECT_TRUE(separate.Out().contains("first-paint"));

  // The first window has the tabs: its state, written as it closes, says so.
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Finish(), 0);
  const Lines left = LinesOf(dir / "state/log/Path1SL.text"), right = LinesOf(dir / "state/log/Path2SL.text");
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[1], one);
  ASSERT_EQ(right.size(), 2u);
  EXPECT_EQ(right[1], two);
  TIniFile ini(dir / "state/tolvane.ini");
  EXPECT_EQ(ini.ReadInteger("Window", "TC1TabIndex", -1), 1);
  EXPECT_EQ(ini.ReadInteger("Window", "TC2TabIndex", -1), 1);

  // Gone with its window: the next start is a window again.
  Program third(dir);
  third.Set("TOLVANE_QUIT_AFTER_MS", "100");
  EXPECT_EQ(third.Run({}), 0);
  EXPECT_TRUE(third.Out().contains("first-paint"));
}

TEST_F(SingleInstanceTest, ASocketLeftByAKilledRunOrAnotherStateFolderStartsAWindow) {
  Program killed(dir);
  killed.Start({});
  ASSERT_TRUE(killed.WaitPainted());
  Program elsewhere(dir, "other-state");
  elsewhere.Set("TOLVANE_QUIT_AFTER_MS", "100");
  EXPECT_EQ(elsewhere.Run({}), 0);
  EXPECT_TRUE(elsewhere.Out().contains("first-paint"));

  killed.Signal(SIGKILL);
  killed.Finish();
  int sockets = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "run")) sockets += entry.is_socket();
  EXPECT_EQ(sockets, 1);  // the killed window's, left behind

  Program next(dir);
  next.Set("TOLVANE_QUIT_AFTER_MS", "100");
  EXPECT_EQ(next.Run({"--right", QString::fromStdString(two)}), 0);
  EXPECT_TRUE(next.Out().contains("first-paint"));
  // --right at the start: a new last tab of the right pane, current.
  const Lines right = LinesOf(dir / "state/log/Path2SL.text");
  ASSERT_FALSE(right.empty());
  EXPECT_EQ(right.back(), two);
  EXPECT_EQ(TIniFile(dir / "state/tolvane.ini").ReadInteger("Window", "TC2TabIndex", -1),
            static_cast<int>(right.size()) - 1);
}

TEST(SingleInstance, TheMessageKeepsEveryByteAndRefusesWhatIsNotOurs) {
  const std::string odd = "/tmp/caf\xe9 \n\xff";  // not UTF-8, with a line break
  TempDir here;
  std::filesystem::current_path(here.path());
  std::vector<std::string> left, right;
  std::string message = EncodeStartPaths({odd, "rel/a"}, {"/r"});
  ASSERT_TRUE(DecodeStartPaths(message, left, right)) << QByteArray::fromStdString(message).toHex().toStdString();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0], odd);
  EXPECT_EQ(left[1], here / "rel/a");
  EXPECT_EQ(right, std::vector<std::string>{"/r"});
  ASSERT_TRUE(DecodeStartPaths(EncodeStartPaths({}, {}), left, right));
  EXPECT_TRUE(left.empty() && right.empty());

  for (const std::string& bad : {std::string("hello"), std::string("tolvane-open 1\nLrelative", 25),
                                 std::string("tolvane-open 1\nX/a\0", 19), std::string("tolvane-open 1\nL/a", 18)})
    EXPECT_FALSE(DecodeStartPaths(bad, left, right)) << bad;
}

TEST(SingleInstance, RightAndNewInstanceOptions) {
  auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "tolvane");
    return ParseCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()));
  };
  TCommandLine line = parse({"a", "--right", "b", "--right=c", "--new-instance", "d"});
  EXPECT_EQ(line.action, TCommandLine::Action::kRun);
  EXPECT_EQ(line.paths, (Lines{"a", "d"}));
  EXPECT_EQ(line.rightPaths, (Lines{"b", "c"}));
  EXPECT_TRUE(line.newInstance);
  EXPECT_FALSE(parse({"a"}).newInstance);
  EXPECT_EQ(parse({"--right"}).action, TCommandLine::Action::kBadOption);
  EXPECT_EQ(parse({"--", "--right"}).paths, Lines{"--right"});
}

TEST(SingleInstance, HandedFoldersOpenAsNewTabsOfTheirPanesAndAFileIsFocused) {
  TempDir files;
  const std::string left = files.dir("left"), right = files.dir("right"), extra = files.dir("extra");
  files.file("extra/pick.txt", "p");
  FormFixture f;
  TForm1* form = f.OpenOn(left, right);
  form->OpenHandedPaths({extra, files / "gone"}, {extra + "/pick.txt"});
  EXPECT_EQ(form->TC1->count(), 2);
  EXPECT_EQ(form->TC1->currentIndex(), 1);
  EXPECT_EQ(form->TC1->tabText(1), "extra");
  EXPECT_EQ(form->LV1->GetPathName(), extra);
  EXPECT_EQ(form->Path1SL.Lines, (Lines{left, extra}));
  EXPECT_EQ(form->TC2->count(), 2);
  EXPECT_EQ(form->LV2->GetPathName(), extra);
  EXPECT_EQ(form->Path2SL.Lines, (Lines{right, extra}));
  ASSERT_GE(form->LV2->FocusedRow(), 0);
  EXPECT_EQ(form->LV2->FileList()->Items(form->LV2->FocusedRow())->GetItemPath(), extra + "/pick.txt");
  EXPECT_EQ(form->LV2->SelectedCount(), 1);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find(files / "gone"), std::string::npos);
}

}  // namespace
