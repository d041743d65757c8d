// Comparing and synchronising from the window: Ctrl+K and Ctrl+Y on the two
// panes' folders, the real dialogs answered as a user answers them.
#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <map>
#include <set>

#include "FileChecks.h"
#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "app/CompareDialogs.h"
#include "platform/fileops/FileOperation.h"

namespace {

using Names = std::set<std::string>;

void SetMTime(const std::string& path, time_t seconds) {
  timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

Names SelectedNames(TShellListView* list) {
  Names names;
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row))
    names.insert(TForm1::LastPathComponent(list->FileList()->Items(row)->GetItemPath()));
  return names;
}

QPushButton* ButtonWithText(QWidget* window, const QString& text) {
  for (QPushButton* button : window->findChildren<QPushButton*>())
    if (button->text() == text) return button;
  return nullptr;
}

// Answers the modal windows as they come up, each by its object name.
class ModalAnswers {
 public:
  ModalAnswers() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || !modal->isVisible() || answered_.count(modal)) return;
      auto it = answers.find(modal->objectName());
      if (it == answers.end()) return;
      answered_.insert(modal);
      shown.push_back(modal->objectName());
      it->second(modal);
    });
    timer_.start(10);
  }
  std::map<QString, std::function<void(QWidget*)>> answers;
  QStringList shown;

 private:
  QTimer timer_;
  std::set<QWidget*> answered_;
};

void ClickOk(QWidget* dialog) {
  auto* buttons = dialog->findChild<QDialogButtonBox*>();
  ASSERT_TRUE(buttons);
  buttons->button(QDialogButtonBox::Ok)->click();
}

class CompareWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileOperationJournal::Instance().Clear();
    left = files.dir("L");
    right = files.dir("R");
    const time_t t = 1700000000;
    for (const char* side : {"L", "R"}) {
      SetMTime(files.file(std::string(side) + "/same.txt", "same"), t);
      SetMTime(files.file(std::string(side) + "/newer.txt", std::string(side) + " newer.txt"),
               side[0] == 'L' ? t + 100 : t);
      SetMTime(files.file(std::string(side) + "/older.txt", std::string(side) + " older.txt"),
               side[0] == 'L' ? t : t + 100);
    }
    files.file("L/onlyleft.txt", "left only");
    files.file("R/onlyright.txt", "right only");
  }
  void TearDown() override { FileOperationJournal::Instance().Clear(); }

  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    ASSERT_TRUE(f.Focus(f.form->LV1));
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  }

  TempDir files;
  std::string left, right;
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
  FormFixture f;
};

TEST_F(CompareWindowTest, CtrlKSelectsWhatIsNewOrNewerOnEachSideAndSumsItUp) {
  TForm1* form = f.OpenOn(left, right);
  ModalAnswers modal;
  QString summary;
  modal.answers["compareOptionsDialog"] = ClickOk;
  modal.answers["compareSummary"] = [&](QWidget* box) {
    summary = static_cast<QMessageBox*>(box)->text();
    ButtonWithText(box, QStringLiteral("閉じる"))->click();
  };
  Press(Qt::Key_K, Qt::ControlModifier);
  EXPECT_EQ(modal.shown, (QStringList{"compareOptionsDialog", "compareSummary"}));
  EXPECT_EQ(SelectedNames(form->LV1), (Names{"newer.txt", "onlyleft.txt"}));
  EXPECT_EQ(SelectedNames(form->LV2), (Names{"older.txt", "onlyright.txt"}));
  EXPECT_TRUE(summary.startsWith(QStringLiteral("左だけ: 1\n右だけ: 1\n左が新しい: 1\n右が新しい: 1\n同じ: 1\n")))
      << summary.toStdString();
  // Nothing was copied by comparing.
  EXPECT_FALSE(Exists(right + "/onlyleft.txt"));
  EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());
}

TEST_F(CompareWindowTest, ASyncPlanCarriedOutCopiesAcrossAndOneUndoTakesItBack) {
  TForm1* form = f.OpenOn(left, right);
  ModalAnswers modal;
  modal.answers["compareOptionsDialog"] = ClickOk;
  modal.answers["compareSummary"] = [](QWidget* box) { ButtonWithText(box, QStringLiteral("同期(&S)..."))->click(); };
  int planned = 0;
  modal.answers["syncDialog"] = [&](QWidget* dialog) {
    planned = static_cast<TSyncDialog*>(dialog)->Table->rowCount();
    ClickOk(dialog);
  };
  ui.deleteAnswers = {true};  // the files the copies replace go to the trash first
  Press(Qt::Key_K, Qt::ControlModifier);
  EXPECT_EQ(modal.shown, (QStringList{"compareOptionsDialog", "compareSummary", "syncDialog"}));
  EXPECT_EQ(planned, 5);
  EXPECT_EQ(ReadWholeFile(right + "/newer.txt"), "L newer.txt");
  EXPECT_EQ(ReadWholeFile(right + "/onlyleft.txt"), "left only");
  EXPECT_EQ(ReadWholeFile(left + "/older.txt"), "R older.txt");
  EXPECT_EQ(ReadWholeFile(left + "/onlyright.txt"), "right only");
  EXPECT_EQ(ReadWholeFile(left + "/newer.txt"), "L newer.txt");
  EXPECT_TRUE(QTest::qWaitFor([&] { return FormFixture::RowOf(form->LV2, "onlyleft.txt") >= 0; }, 5000));

  Press(Qt::Key_Backspace, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Exists(right + "/onlyleft.txt"); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return ReadWholeFile(right + "/newer.txt") == "R newer.txt"; }, 5000));
  EXPECT_FALSE(Exists(left + "/onlyright.txt"));
  EXPECT_EQ(ReadWholeFile(left + "/older.txt"), "L older.txt");
  EXPECT_EQ(ReadWholeFile(left + "/same.txt"), "same");
  EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());
  EXPECT_TRUE(f.messages.empty()) << f.messages.front();
}

TEST_F(CompareWindowTest, CtrlYGoesStraightToThePlanAndCancellingItChangesNothing) {
  f.OpenOn(left, right);
  ModalAnswers modal;
  modal.answers["compareOptionsDialog"] = ClickOk;
  modal.answers["syncDialog"] = [](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); };
  Press(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(modal.shown, (QStringList{"compareOptionsDialog", "syncDialog"}));
  EXPECT_FALSE(Exists(right + "/onlyleft.txt"));
  EXPECT_EQ(ReadWholeFile(right + "/newer.txt"), "R newer.txt");
  EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());
}

}  // namespace
