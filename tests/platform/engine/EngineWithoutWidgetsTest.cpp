#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <memory>
#include <string>
#include <vector>

#include "NamespaceTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/desktop/DropTarget.h"
#include "platform/desktop/FilePayload.h"
#include "platform/fileops/FileLinks.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/ContextMenuProvider.h"
#include "platform/system/Exception.h"

namespace {

// What a folder hands to the menu provider, kept to compare.
struct SeenMenu : IContextMenu {
  bool QueryContextMenu(QMenu*, int, int, int, uint32_t) override { return false; }
  bool InvokeCommand(QWidget*, int) override { return false; }
  std::string GetCommandString(int) override { return {}; }
};

}  // namespace

TEST(EngineWithoutWidgets, FileWorkRunsWithACoreApplicationAndNoUiPluggedIn) {
  ASSERT_NE(QCoreApplication::instance(), nullptr);
  ASSERT_EQ(qobject_cast<QGuiApplication*>(QCoreApplication::instance()), nullptr);
  TempDir tmp;
  std::string source = tmp.file("a.txt", "payload");
  std::string target = tmp.dir("target");

  // No provider: no default UI, and an operation without one is refused untouched.
  EXPECT_EQ(DefaultFileOperationUI(nullptr), nullptr);
  FileOperationRequest request;
  request.function = FO_MOVE;
  request.sources = {source};
  request.destination = target;
  EXPECT_EQ(RunFileOperation(request).code, FO_ERROR_BAD_REQUEST);
  EXPECT_EQ(ReadWholeFile(source), "payload");

  // With a UI of its own the engine copies on the calling thread; links are made too.
  ScriptedFileOperationUI ui;
  request.function = FO_COPY;
  EXPECT_EQ(RunFileOperation(request, &ui).code, 0);
  EXPECT_EQ(ReadWholeFile(target + "/a.txt"), "payload");
  EXPECT_TRUE(CreateLinksInFolder({source, source}, target, &ui));
  struct stat st {};
  EXPECT_EQ(lstat((target + "/a (2).txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A drop with no handler installed is refused and moves nothing.
  std::unique_ptr<QMimeData> data(MakeFilesMimeData({source}, false));
  IDropTarget drop(tmp.dir("drop"));
  EXPECT_EQ(drop.Drop(data.get(), 0, DROPEFFECT_COPY | DROPEFFECT_MOVE), DROPEFFECT_NONE);
  EXPECT_EQ(ReadWholeFile(source), "payload");
}

TEST(EngineWithoutWidgets, FoldersAskTheProviderForMenusAndErrorsFallBackToTheDefaultDisplay) {
  TempDir tmp;
  std::string file = tmp.file("menu.txt", "x");
  std::string sub = tmp.dir("sub");
  ShellFolderPtr folder = BindPath(tmp.path());
  ASSERT_TRUE(folder);
  IDListPtr fileId(CopyLastID(ParsePath(file).get()));
  IDListPtr subId(CopyLastID(ParsePath(sub).get()));
  std::vector<PCItemIDList> ids{fileId.get(), subId.get()};

  // Nothing provided: a folder has no menu.
  EXPECT_EQ(folder->GetContextMenu(nullptr, 2, ids.data()), nullptr);

  std::vector<ContextMenuItem> seen;
  SetContextMenuProvider([&](QWidget*, std::vector<ContextMenuItem> items, uint32_t) -> std::unique_ptr<IContextMenu> {
    seen = std::move(items);
    return std::make_unique<SeenMenu>();
  });
  EXPECT_NE(folder->GetContextMenu(nullptr, 2, ids.data()), nullptr);
  SetContextMenuProvider(nullptr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].path, file);
  EXPECT_FALSE(seen[0].folder);
  EXPECT_EQ(seen[1].path, sub);
  EXPECT_TRUE(seen[1].folder);
  EXPECT_EQ(PathOf(seen[1].absolute.get()), sub);
  EXPECT_EQ(folder->GetContextMenu(nullptr, 2, ids.data()), nullptr);

  // The default display shows what no test display takes; a set display wins.
  std::vector<std::string> byDefault, byTest;
  SetDefaultExceptionDisplay([&](const std::string& m) { byDefault.push_back(m); });
  Guarded([] { throw Exception("既定の表示"); });
  SetExceptionDisplay([&](const std::string& m) { byTest.push_back(m); });
  Guarded([] { throw Exception("テストの表示"); });
  SetExceptionDisplay({});
  SetDefaultExceptionDisplay({});
  EXPECT_EQ(byDefault, std::vector<std::string>{"既定の表示"});
  EXPECT_EQ(byTest, std::vector<std::string>{"テストの表示"});
}
