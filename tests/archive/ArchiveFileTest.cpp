// The archive file component: extraction through the current archiver, the
// output buffer, the archive handle, and progress reaching OnProgress.
#include <gtest/gtest.h>

#include <cstring>

#include "ArcTestLibrary.h"
#include "TempDir.h"
#include "archive/ArchiveFile.h"

namespace {

struct Progress {
  std::vector<int> states;
  std::vector<uint32_t> written;
  std::string name;
};

}  // namespace

TEST(ArchiveFileTest, ExtractWithoutAnArchiverRaises) {
  TArchiveFile af;
  try {
    af.Extract(nullptr, nullptr, {}, "");
    ADD_FAILURE();
  } catch (const EArchiver& e) {
    EXPECT_STREQ(e.what(), "書庫の形式を判別できません。");
  }
  EXPECT_THROW(af.FindFirst("*.*", nullptr), EArchiver);
}

TEST(ArchiveFileTest, ExtractUsesTheOwnOptionsUnlessGivenAndCopiesTheCommandLine) {
  ArcTestLibrary lib;
  TArchiveFile af;
  af.SetFileName("a.lzh");
  af.Options.x = 1;
  af.Options.jso = 1;
  af.Options.jse = 1;
  EXPECT_EQ(af.Extract(nullptr, nullptr, {nullptr}, ""), 0);
  EXPECT_EQ(af.CommandLine, "x -+ -x1 -jse1 -jso1  \"a.lzh\" ");
  EXPECT_EQ(lib.LastCommand(), af.CommandLine);
  TArchiverOptions other;
  other.jso = 1;
  other.jse = 1;
  af.Extract(nullptr, &other, {std::string("one")}, "dest");
  EXPECT_EQ(af.CommandLine, "x -+ -jse1 -jso1  \"a.lzh\" \"dest/\" \"one\" ");
  // The command line is copied also when the archiver refuses.
  other.jse = -1;
  af.Archiver()->CommandLine = "refused";
  EXPECT_THROW(af.Extract(nullptr, &other, {}, ""), EAssertionFailed);
  EXPECT_EQ(af.CommandLine, "refused");
}

TEST(ArchiveFileTest, OutputSizeIsTheBufferHandedToTheLibrary) {
  ArcTestLibrary lib;
  TArchiveFile af;
  af.SetFileName("a.rar");
  EXPECT_EQ(af.OutputSize(), 0);
  af.Extract(nullptr, nullptr, {}, "");
  EXPECT_TRUE(lib.LastOutputNull());
  EXPECT_EQ(lib.LastOutputSize(), 0u);
  af.SetOutputSize(1024);
  EXPECT_EQ(af.OutputSize(), 1024);
  EXPECT_EQ(af.OutputText(), "");
  af.Extract(nullptr, nullptr, {}, "");
  EXPECT_FALSE(lib.LastOutputNull());
  EXPECT_EQ(lib.LastOutputSize(), 1024u);
  EXPECT_EQ(af.OutputText(), "Unrar: -x -u  \"a.rar\" ");
  af.SetOutputSize(8);
  af.Extract(nullptr, nullptr, {}, "");
  EXPECT_EQ(af.OutputText(), "Unrar: ");  // cut to the buffer, NUL included
  af.SetOutputSize(0);
  EXPECT_EQ(af.OutputText(), "");
}

TEST(ArchiveFileTest, FindUsesTheComponentsHandleWhichIsNeverOpened) {
  ArcTestLibrary lib;
  TempDir tmp;
  TArchiveFile af;
  af.SetFileName(tmp.file("a.rar", "[Unrar]"));
  TArchiveEntryInfo info{};
  EXPECT_EQ(af.ArchiveHandle, nullptr);
  EXPECT_NE(af.FindFirst("*.*", &info), 0);
  EXPECT_NE(af.FindNext(&info), 0);
  // Listing goes through the archiver with a handle of its own.
  HARC h = af.Archiver()->OpenArchive(nullptr, af.FileName(), 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(af.Archiver()->FindFirst(h, &info, "*.*"), 0);
  EXPECT_STREQ(info.Info.szFileName, "entry0.txt");
  af.Archiver()->CloseArchive(h);
}

TEST(ArchiveFileTest, WithoutOnProgressNoWindowIsMadeOrGiven) {
  ArcTestLibrary lib;
  TArchiveFile af;
  af.SetFileName("a.rar");
  af.Extract(nullptr, nullptr, {}, "");
  EXPECT_EQ(af.MessageWindow(), nullptr);
  EXPECT_FALSE(af.Archiver()->HasOwnerWindow());
}

TEST(ArchiveFileTest, ProgressMessagesReachOnProgressAndAbortStopsTheLibrary) {
  ArcTestLibrary lib;
  TArchiveFile af;
  af.SetFileName("a.zip");
  Progress seen;
  af.OnProgress = [&](TArchiveFile* sender, int state, ArcExtractingInfoEx* eis, bool&) {
    EXPECT_EQ(sender, &af);
    seen.states.push_back(state);
    seen.written.push_back(eis->exinfo.dwWriteSize);
    seen.name = eis->exinfo.szSourceFileName;
  };
  int widget = 0;
  TOwnerWindow callers(&widget);
  EXPECT_EQ(ArcWindowWidget(callers.Handle()), &widget);
  EXPECT_EQ(af.Extract(callers.Handle(), nullptr, {}, ""), 0);
  EXPECT_EQ(seen.states,
            (std::vector<int>{ARCEXTRACT_BEGIN, ARCEXTRACT_INPROCESS, ARCEXTRACT_INPROCESS, ARCEXTRACT_END}));
  EXPECT_EQ(seen.written, (std::vector<uint32_t>{0, 100, 200, 200}));
  EXPECT_EQ(seen.name, "a.txt");
  EXPECT_EQ(TArchiveFile::ArcExtractMessage(), ArcRegisterWindowMessage("WM_ARCEXTRACT"));
  ASSERT_NE(af.MessageWindow(), nullptr);
  // The command ran with the caller's window and the owner window recorded
  // (ZIP then asks the library to stay quiet); both are gone afterwards.
  EXPECT_EQ(lib.LastWindow(), callers.Handle());
  EXPECT_EQ(af.CommandLine, "-x --i  \"a.zip\" ");
  EXPECT_EQ(lib.OwnerWindow(), nullptr);
  EXPECT_FALSE(af.Archiver()->HasOwnerWindow());

  seen = {};
  af.OnProgress = [&](TArchiveFile*, int state, ArcExtractingInfoEx*, bool& abort) {
    seen.states.push_back(state);
    abort = state == ARCEXTRACT_INPROCESS;
  };
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, ""), ARC_ERROR_USER_CANCEL);
  EXPECT_EQ(seen.states, (std::vector<int>{ARCEXTRACT_BEGIN, ARCEXTRACT_INPROCESS}));
}

TEST(ArchiveFileTest, AThrowingProgressHandlerDoesNotUnwindThroughTheLibrary) {
  ArcTestLibrary lib;
  std::vector<std::string> shown;
  SetExceptionDisplay([&](const std::string& m) { shown.push_back(m); });
  TArchiveFile af;
  af.SetFileName("a.rar");
  af.OnProgress = [&](TArchiveFile*, int, ArcExtractingInfoEx*, bool&) { throw EArchiver("boom"); };
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, ""), 0);
  SetExceptionDisplay({});
  EXPECT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), "boom");
}
