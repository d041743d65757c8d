#include "platform/desktop/FilePayload.h"

#include <gtest/gtest.h>

#include <QMimeData>
#include <memory>

#include "platform/desktop/DropTarget.h"

namespace {

std::string Format(const QMimeData& data, const char* format) { return data.data(format).toStdString(); }

struct Read {
  bool ok = false;
  bool cut = false;
  std::vector<std::string> paths;
};

Read ReadBack(const QMimeData* data) {
  Read r;
  r.cut = true;  // must be overwritten
  r.ok = ReadFilesMimeData(data, r.paths, r.cut);
  return r;
}

}  // namespace

TEST(FilePayload, AwkwardPathsRoundTripByteForByte) {
  const std::vector<std::string> paths = {
      "/tmp/a b/c  d.txt",
      "/tmp/100%/x%41%zz.txt",
      "/tmp/#hash?q=1&x;y=2",
      "/tmp/日本語/ファイル 名.txt",
      std::string("/tmp/bad\xff\xfe name\x80\xc3"),
      "/tmp/+plus,(paren)'~.-_!$*",
      "/tmp/tab\tback\\slash",
      "/",
  };
  std::unique_ptr<QMimeData> data(MakeFilesMimeData(paths, false));

  // Every byte outside the unreserved set and '/' is escaped, each line ends in CR LF.
  std::string uriList = Format(*data, "text/uri-list");
  std::string expectedList;
  for (const std::string& p : paths) expectedList += PathToFileUrl(p) + "\r\n";
  EXPECT_EQ(uriList, expectedList);
  for (unsigned char c : uriList) EXPECT_TRUE((c > 0x20 && c < 0x7f) || c == '\r' || c == '\n') << int(c);
  EXPECT_EQ(PathToFileUrl("/a b/%#?é"), "file:///a%20b/%25%23%3F%C3%A9");
  EXPECT_EQ(PathToFileUrl("/Az09-._~/x"), "file:///Az09-._~/x");

  Read r = ReadBack(data.get());
  ASSERT_TRUE(r.ok);
  EXPECT_FALSE(r.cut);
  EXPECT_EQ(r.paths, paths);
  for (const std::string& p : paths) {
    std::string back;
    ASSERT_TRUE(FileUrlToPath(PathToFileUrl(p), back));
    EXPECT_EQ(back, p);
  }
  // A drop reads the same list.
  EXPECT_EQ(DroppedPaths(data.get()), paths);
  EXPECT_TRUE(MimeDataHoldsFiles(data.get()));
}

TEST(FilePayload, CutAndCopyAreToldApart) {
  const std::vector<std::string> paths = {"/home/u/a b.txt", "/home/u/c"};
  std::unique_ptr<QMimeData> cut(MakeFilesMimeData(paths, true));
  std::unique_ptr<QMimeData> copy(MakeFilesMimeData(paths, false));

  EXPECT_EQ(Format(*cut, "x-special/gnome-copied-files"), "cut\nfile:///home/u/a%20b.txt\nfile:///home/u/c");
  EXPECT_EQ(Format(*cut, "application/x-kde-cutselection"), "1");
  EXPECT_EQ(Format(*copy, "x-special/gnome-copied-files"), "copy\nfile:///home/u/a%20b.txt\nfile:///home/u/c");
  EXPECT_FALSE(copy->hasFormat("application/x-kde-cutselection"));

  Read r = ReadBack(cut.get());
  EXPECT_TRUE(r.ok && r.cut);
  EXPECT_EQ(r.paths, paths);
  r = ReadBack(copy.get());
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.cut);

  // A reader that only keeps the URI list and KDE's flag still sees the cut.
  QMimeData kdeOnly;
  kdeOnly.setData("text/uri-list", cut->data("text/uri-list"));
  kdeOnly.setData("application/x-kde-cutselection", cut->data("application/x-kde-cutselection"));
  r = ReadBack(&kdeOnly);
  EXPECT_TRUE(r.ok && r.cut);
  EXPECT_EQ(r.paths, paths);

  // GNOME's format wins over a URI list that disagrees.
  QMimeData both;
  both.setData("x-special/gnome-copied-files", "copy\nfile:///from/gnome");
  both.setData("text/uri-list", "file:///from/list\r\n");
  both.setData("application/x-kde-cutselection", "1");
  r = ReadBack(&both);
  EXPECT_FALSE(r.cut);
  EXPECT_EQ(r.paths, std::vector<std::string>{"/from/gnome"});
}

TEST(FilePayload, ReadsWhatOtherFileManagersWrite) {
  // GNOME Files: GLib leaves sub-delimiters such as "(" and "+" unescaped.
  QMimeData gnome;
  gnome.setData(
      "x-special/gnome-copied-files",
      "cut\nfile:///home/user/My%20Documents/report%20(final)+1.odt\nfile:///home/user/%E6%97%A5%E6%9C%AC.txt");
  gnome.setData(
      "text/uri-list",
      "file:///home/user/My%20Documents/report%20(final)+1.odt\r\nfile:///home/user/%E6%97%A5%E6%9C%AC.txt\r\n");
  Read r = ReadBack(&gnome);
  EXPECT_TRUE(r.ok && r.cut);
  EXPECT_EQ(r.paths, (std::vector<std::string>{"/home/user/My Documents/report (final)+1.odt", "/home/user/日本.txt"}));

  // Nautilus 3.30 to 43: the list as plain text behind a header line.
  QMimeData nautilus;
  nautilus.setData("text/plain", "x-special/nautilus-clipboard\ncut\nfile:///home/user/a%20b.txt\n");
  r = ReadBack(&nautilus);
  EXPECT_TRUE(r.ok && r.cut);
  EXPECT_EQ(r.paths, std::vector<std::string>{"/home/user/a b.txt"});

  // Dolphin: the URI list, its own copy of it, plain text, and "0" or "1" for the cut.
  for (const char* flag : {"0", "1"}) {
    QMimeData dolphin;
    dolphin.setData("text/uri-list", "file:///home/user/a%20b.txt\r\nfile:///home/user/%E6%97%A5.txt\r\n");
    dolphin.setData("application/x-kde4-urilist", "file:///home/user/a%20b.txt\r\nfile:///home/user/%E6%97%A5.txt\r\n");
    dolphin.setData("text/plain", "/home/user/a b.txt\n/home/user/日.txt");
    dolphin.setData("application/x-kde-cutselection", flag);
    r = ReadBack(&dolphin);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.cut, flag[0] == '1');
    EXPECT_EQ(r.paths, (std::vector<std::string>{"/home/user/a b.txt", "/home/user/日.txt"}));
  }

  // Hand-written lists: LF endings, comments, localhost, the old "file:/" form;
  // other schemes and hosts are left out.
  QMimeData loose;
  loose.setData("text/uri-list",
                "# dragged from somewhere\nfile://localhost/srv/x%20y\nfile:/srv/old\nhttp://example.com/z\n"
                "file://elsewhere.example/srv/remote\nFILE:///srv/upper\n");
  r = ReadBack(&loose);
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.cut);
  EXPECT_EQ(r.paths, (std::vector<std::string>{"/srv/x y", "/srv/old", "/srv/upper"}));
}

TEST(FilePayload, DataWithoutFilesHoldsNone) {
  EXPECT_FALSE(MimeDataHoldsFiles(nullptr));
  QMimeData text;
  text.setText("file:///looks/like/a/url");
  EXPECT_FALSE(MimeDataHoldsFiles(&text));

  QMimeData remote;
  remote.setData("text/uri-list", "https://example.com/a\r\nfile://other.example/x\r\n");
  Read r = ReadBack(&remote);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.paths.empty());
  EXPECT_FALSE(r.cut);

  // A GNOME list that is not one is not taken for a cut of nothing.
  QMimeData bogus;
  bogus.setData("x-special/gnome-copied-files", "paste\nfile:///x");
  EXPECT_FALSE(MimeDataHoldsFiles(&bogus));

  std::unique_ptr<QMimeData> empty(MakeFilesMimeData({}, true));
  EXPECT_FALSE(MimeDataHoldsFiles(empty.get()));
  EXPECT_TRUE(DroppedPaths(empty.get()).empty());

  // URLs that name no local file.
  std::string path = "unchanged";
  EXPECT_FALSE(FileUrlToPath("file:///a%00b", path));
  EXPECT_FALSE(FileUrlToPath("file:relative", path));
  EXPECT_FALSE(FileUrlToPath("file://", path));
  EXPECT_FALSE(FileUrlToPath("/plain/path", path));
  EXPECT_EQ(path, "unchanged");
  // A broken escape stays as it is rather than eating the next characters.
  ASSERT_TRUE(FileUrlToPath("file:///a%zzb%4", path));
  EXPECT_EQ(path, "/a%zzb%4");
}
