#pragma once
// What the tests of locations without a FUSE path share: a main window, the
// scripted questions of the file engine, folders on the test server, and
// opening a location in a pane as a user types it.
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FormFixture.h"
#include "NetworkServers.h"
#include "ScriptedFileOperationUI.h"
#include "WaitUntil.h"
#include "platform/fileops/FileOperation.h"
#include "platform/network/GioFolder.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"

inline std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Nothing half-made of ours is left in folder.
inline bool NoPartLeft(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind(".tolvane-part-", 0) == 0) return false;
  return true;
}

class GioFolderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!servers.skipReason.empty()) GTEST_SKIP() << servers.skipReason;
    SetFileOperationUIOverride(&ui);
  }
  void TearDown() override {
    SetFileOperationUIOverride(nullptr);
    f.Close();
    if (servers.skipReason.empty()) servers.UnmountAll();
  }
  // Opens the location uri in list's pane as a user types it.
  void OpenIn(QLineEdit* edit, TShellListView* list, const std::string& uri) {
    ASSERT_TRUE(f.Focus(edit));
    edit->setText(QString::fromStdString(uri));
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return Listed(list, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
  }
  static bool Listed(TShellListView* list, const std::string& uri) {
    return list->GetPathName() == network::GioFolderUri(uri) && !list->Reading() && !list->FileList()->Growing();
  }
  static void Select(TShellListView* list, std::initializer_list<const char*> names) {
    list->SelectAllRows(false);
    for (const char* name : names) {
      const int row = FormFixture::RowOf(list, name);
      ASSERT_GE(row, 0) << name;
      list->SetRowSelected(row, true);
      list->SetFocusedRow(row);
    }
  }
  // A new empty folder on the server, under its users' home.
  std::string Remote(const std::string& name) {
    const std::string folder = servers.Remote() + "/" + name;
    std::filesystem::remove_all(folder);
    ::mkdir(folder.c_str(), 0755);
    return folder;
  }

  NetworkServers& servers = NetworkServers::Get();
  ScriptedFileOperationUI ui;
  FormFixture f;
};
