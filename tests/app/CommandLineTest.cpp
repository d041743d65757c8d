// The command line: folders and files opened at start, and the options, both
// in the window and through the real program started offscreen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTabBar>

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
ProgramRun RunProgram(const TempDir& dir, const QStringList& args, const QString& workFolder = {}) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("TOLVANE_HOME", QString::fromStdString(dir / "state"));
  env.insert("HOME", QString::fromStdString(dir / "home"));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
  env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
  env.insert("TOLVANE_QUIT_AFTER_MS", "200");
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
