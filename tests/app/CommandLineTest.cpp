// The command line: folders and files opened at start, and the options, both
// in the window and through the real program started offscreen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTabBar>
#include <functional>

#include "FormFixture.h"
#include "app/CommandLine.h"
#include "platform/state/IniFile.h"
#include "platform/state/LineList.h"
#include "platform/system/Library.h"
#include "shell/ShellListView.h"

namespace {

struct ProgramRun {
  int code = -1;
  std::string out, err;
};

// The built program, with its state in a folder of the test's and nothing of the user's.
QProcessEnvironment ProgramEnvironment(const TempDir& dir) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("TOLVANE_HOME", QString::fromStdString(dir / "state"));
  env.insert("HOME", QString::fromStdString(dir / "home"));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
  env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
  return env;
}

ProgramRun RunProgram(const TempDir& dir, const QStringList& args, const QString& workFolder = {},
                      const std::function<void(QProcessEnvironment&)>& adjust = {}) {
  QProcess process;
  QProcessEnvironment env = ProgramEnvironment(dir);
  env.insert("TOLVANE_QUIT_AFTER_MS", "200");
  if (adjust) adjust(env);
  process.setProcessEnvironment(env);
  if (!workFolder.isEmpty()) process.setWorkingDirectory(workFolder);
  process.start(QString::fromStdString(ExecutableFolder() + "/tolvane"), args);
  ProgramRun run;
  if (!process.waitForFinished(60000)) {
    process.kill();
    return run;
  }
  run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = process.readAllStandardOutput().toStdString();
  run.err = process.readAllStandardError().toStdString();
  return run;
}

std::vector<std::string> Lines(const std::string& path) {
  TLineList list;
  list.LoadFromFile(path);
  return list.Lines;
}

}  // namespace

TEST(CommandLine, ParsesOptionsPathsAndTheEndOfOptions) {
  auto parse = [](std::vector<std::string> words) {
    std::vector<char*> argv{const_cast<char*>("tolvane")};
    for (std::string& w : words) argv.push_back(w.data());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_EQ(parse({}).action, TCommandLine::Action::kRun);
  EXPECT_EQ(parse({"/a", "--help"}).action, TCommandLine::Action::kHelp);
  EXPECT_EQ(parse({"--version", "--bogus"}).action, TCommandLine::Action::kVersion);
  TCommandLine bad = parse({"/a", "--bogus"});
  EXPECT_EQ(bad.action, TCommandLine::Action::kBadOption);
  EXPECT_EQ(bad.badOption, "--bogus");
  // After "--" everything is a path, even what looks like an option.
  TCommandLine paths = parse({"a", "--", "--help", "-x"});
  EXPECT_EQ(paths.action, TCommandLine::Action::kRun);
  EXPECT_EQ(paths.paths, (std::vector<std::string>{"a", "--help", "-x"}));
}

TEST(CommandLine, BeforeTheApplicationQtOptionsPassAndOursAreChecked) {
  auto parse = [](std::vector<std::string> words) {
    std::vector<char*> argv{const_cast<char*>("tolvane")};
    for (std::string& w : words) argv.push_back(w.data());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), true);
  };
  TCommandLine qt = parse({"-platform", "offscreen", "--style=Fusion", "-reverse", "--platformtheme", "x", "/a"});
  EXPECT_EQ(qt.action, TCommandLine::Action::kRun);
  EXPECT_EQ(qt.paths, std::vector<std::string>{"/a"});
  TCommandLine bad = parse({"-platform", "offscreen", "--bogus"});
  EXPECT_EQ(bad.action, TCommandLine::Action::kBadOption);
  EXPECT_EQ(bad.badOption, "--bogus");
  EXPECT_EQ(parse({"-reverse=1"}).action, TCommandLine::Action::kBadOption);
  EXPECT_EQ(parse({"-x"}).action, TCommandLine::Action::kBadOption);
  EXPECT_EQ(parse({"-platform", "offscreen", "--help"}).action, TCommandLine::Action::kHelp);
}

TEST(CommandLine, StartPathsResolveRelativeNamesDotsAndLinks) {
  TempDir dir;
  const std::string a = dir.dir("a"), b = dir.dir("a/b");
  const std::string file = dir.file("a/b/notes.txt", "x");
  std::filesystem::create_directory_symlink(b, dir / "link");
  EXPECT_EQ(ResolveStartPath(a + "/./b/../b/").folder, b);
  TStartPath f = ResolveStartPath(file);
  EXPECT_EQ(f.folder, b);
  EXPECT_EQ(f.file, file);
  // "link/.." is the link target's parent, as the kernel sees it.
  EXPECT_EQ(ResolveStartPath(dir / "link/..").folder, a);
  EXPECT_TRUE(ResolveStartPath(dir / "missing").folder.empty());
}

TEST(CommandLine, FoldersBecomeNewLeftTabsAndAFileIsFocused) {
  FormFixture f;
  const std::string saved = f.state.dir("files/saved");
  const std::string one = f.state.dir("files/one"), two = f.state.dir("files/two");
  f.state.file("files/two/a.txt", "a");
  const std::string target = f.state.file("files/two/target.txt", "t");
  f.state.file("files/two/z.txt", "z");
  f.WriteLines("log/Path1SL.text", {saved});
  f.startPaths = {one, target, f.state.path() + "/files/nowhere"};
  TForm1* form = f.Open();
  ASSERT_EQ(form->TC1->count(), 3);
  EXPECT_EQ(form->TC1->currentIndex(), 2);
  EXPECT_EQ(form->Path1SL.Lines, (std::vector<std::string>{saved, one, two}));
  EXPECT_EQ(form->LV1->GetPathName(), two);
  int row = form->LV1->FocusedRow();
  ASSERT_GE(row, 0);
  EXPECT_EQ(form->LV1->FileList()->Items(row)->GetItemPath(), target);
  EXPECT_EQ(form->LV1->SelectedCount(), 1);
  EXPECT_TRUE(form->LV1->IsRowSelected(row));
  // The missing path is named in one message; the rest still opened.
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("files/nowhere"), std::string::npos);
}

TEST(CommandLine, APlaceInsideAnArchiveOpensThereAndAFileInOneIsFocused) {
  FormFixture f;
  const std::string src = f.state.dir("files/src");
  f.state.dir("files/src/docs");
  f.state.file("files/src/docs/a.txt", "a");
  f.state.file("files/src/docs/b.txt", "b");
  const std::string zip = f.state.path() + "/files/box.zip";
  ASSERT_EQ(std::system(("cd '" + src + "' && zip -qr '" + zip + "' docs").c_str()), 0);
  f.startPaths = {zip + "/docs", zip + "/docs/b.txt", zip + "/nowhere"};
  TForm1* form = f.Open();
  EXPECT_EQ(form->Path1SL.Lines.back(), zip + "/docs");
  EXPECT_EQ(form->LV1->GetPathName(), zip + "/docs");
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->SelectedCount() == 1; }, 5000));
  EXPECT_EQ(form->LV1->FileList()->Items(form->LV1->FocusedRow())->GetDisplayName(), "b.txt");
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("box.zip/nowhere"), std::string::npos);
}

TEST(CommandLine, AFileInAHugeFolderIsFocusedOnceItsRowsArrive) {
  FormFixture f;
  const std::string huge = f.state.dir("files/huge");
  for (int i = 0; i < 12000; ++i) {
    int fd = open((huge + "/f" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  f.startPaths = {huge + "/f11000"};
  TForm1* form = f.Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->LV1->Reading() && form->LV1->FileList()->Count() == 12000; }, 20000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->SelectedCount() == 1; }, 5000));
  const int row = form->LV1->FocusedRow();
  ASSERT_GE(row, 0);
  EXPECT_EQ(form->LV1->FileList()->Items(row)->GetItemPath(), huge + "/f11000");
  EXPECT_TRUE(form->LV1->IsRowSelected(row));
}

TEST(CommandLine, TheProgramAnswersHelpVersionAndUnknownOptions) {
  TempDir dir;
  ProgramRun help = RunProgram(dir, {"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("tolvane [OPTION] [FOLDER|FILE]"), std::string::npos);
  ProgramRun version = RunProgram(dir, {"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.rfind("tolvane ", 0), 0u);
  ProgramRun bad = RunProgram(dir, {"--frobnicate"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("--frobnicate"), std::string::npos);
  EXPECT_NE(bad.err.find("Usage:"), std::string::npos);
  EXPECT_TRUE(bad.out.empty());
  // Neither answer touched the state folder.
  EXPECT_FALSE(std::filesystem::exists(dir / "state/tolvane.ini"));
}

TEST(CommandLine, AnUnknownOptionWithoutADisplayGetsTheUsage) {
  TempDir dir;
  // Over SSH: no display and no platform chosen.
  ProgramRun bad = RunProgram(dir, {"--bogus"}, {}, [](QProcessEnvironment& env) {
    env.remove("QT_QPA_PLATFORM");
    env.remove("WAYLAND_DISPLAY");
    env.insert("DISPLAY", "");
  });
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("--bogus"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("Usage:"), std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find("display"), std::string::npos) << bad.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "state/tolvane.ini"));
}

TEST(CommandLine, RelativePathsCountFromTheWorkingFolder) {
  TempDir dir;
  dir.dir("home");  // the lists show it before the start paths are opened
  const std::string pics = dir.dir("pics");
  dir.file("pics/a.png", "x");
  ProgramRun run = RunProgram(dir, {"pics/a.png", "./pics/../pics"}, QString::fromStdString(dir.path()));
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err.find("見つかりません"), std::string::npos) << run.err;
  std::vector<std::string> tabs = Lines(dir / "state/log/Path1SL.text");
  ASSERT_EQ(tabs.size(), 3u) << run.err;
  EXPECT_EQ(tabs[1], pics);
  EXPECT_EQ(tabs[2], pics);
}

// The start's "path does not exist" message open, the program is asked to end:
// it always does, with its state written, however the signals fall.
TEST(CommandLine, AStopSignalWhileTheMissingPathMessageIsOpenEndsTheProgram) {
  TempDir dir;
  QProcessEnvironment env = ProgramEnvironment(dir);
  env.remove("QT_QPA_PLATFORM");  // as a user types it: -platform on the command line
  env.insert("TOLVANE_REPORT_FIRST_PAINT", "1");
  const QString program = QString::fromStdString(ExecutableFolder() + "/tolvane");
  for (int start = 0; start < 50; ++start) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, {QString::fromStdString(dir / "nonexistent"), "-platform", "offscreen"});
    ASSERT_TRUE(process.waitForStarted(10000));
    std::string out;
    while (out.find("dialog-shown") == std::string::npos && process.state() == QProcess::Running) {
      process.waitForReadyRead(200);
      out += process.readAllStandardOutput().toStdString();
    }
    ASSERT_NE(out.find("dialog-shown"), std::string::npos) << "start " << start;
    // Some at once, some a little later; every third twice, as an impatient user does.
    if (start % 4) QTest::qWait(start % 7);
    process.terminate();
    if (start % 3 == 0) process.terminate();
    const bool ended = process.waitForFinished(10000);
    if (!ended) process.kill();
    ASSERT_TRUE(ended) << "start " << start << " ignored SIGTERM";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "start " << start;
    EXPECT_EQ(process.exitCode(), 0) << "start " << start;
  }
  EXPECT_EQ(Lines(dir / "state/log/Path1SL.text"), std::vector<std::string>{dir / "home"});
}

TEST(CommandLine, TheProgramOpensFoldersAndReportsAMissingPath) {
  TempDir dir;
  const std::string one = dir.dir("one"), two = dir.dir("two");
  ProgramRun run = RunProgram(dir, {"one", QString::fromStdString(two), "gone"}, QString::fromStdString(dir.path()));
  EXPECT_EQ(run.code, 0);
  EXPECT_NE(run.err.find("gone"), std::string::npos);
  std::vector<std::string> tabs = Lines(dir / "state/log/Path1SL.text");
  ASSERT_EQ(tabs.size(), 3u);  // the fresh home tab, then the two folders
  EXPECT_EQ(tabs[1], one);
  EXPECT_EQ(tabs[2], two);
  EXPECT_EQ(TIniFile(dir / "state/tolvane.ini").ReadInteger("Window", "TC1TabIndex", -1), 2);

  // Without arguments the saved tabs come back as they were.
  ProgramRun plain = RunProgram(dir, {});
  EXPECT_EQ(plain.code, 0);
  EXPECT_EQ(Lines(dir / "state/log/Path1SL.text"), tabs);
}
