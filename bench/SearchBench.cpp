// The file search against the command-line tools, in the same run:
//   find_name_200k_vs_find  a mask over a 200,000-file tree, against find DIR -name MASK
//   find_text_vs_grep       a word in 500 MB of mixed files, against grep -rlF
//   find_text_vs_rg         the same against rg -l (when ripgrep is installed)
//   find_first_hit_ms       from Enter in the search dialog to the first result row
//                           painted, with a hit in the first folder
// Medians of several runs, warm caches; SEARCH_BENCH_MB sets the text size (default 500).
#include <QApplication>
#include <QComboBox>
#include <QListView>
#include <QTreeView>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>

#include "BenchUtil.h"
#include "app/FormSearch.h"
#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "app/SearchCommand.h"
#include "platform/search/FileSearch.h"
#include "shell/actions/NameMasks.h"
#include "shell/watch/WatcherThread.h"
#include "shell/ShellIconView.h"
#include "shell/ShellReportView.h"

using bench::Median;
using bench::Now;
using bench::TimeCommand;

namespace {

constexpr int kRuns = 5;
constexpr int kNameFiles = 200000;
constexpr int kFilesPerFolder = 100;

void Write(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

// 2,000 folders of 100 files, two levels deep; one name in ten ends in .log.
void MakeNameTree(const std::string& root) {
  const char* const extensions[] = {".txt", ".jpg", ".c", ".h", ".png", ".md", ".html", ".json", ".xml", ".log"};
  for (int d = 0; d < kNameFiles / kFilesPerFolder; ++d) {
    std::string folder = root + "/g" + std::to_string(d / 50) + "/d" + std::to_string(d);
    std::filesystem::create_directories(folder);
    for (int f = 0; f < kFilesPerFolder; ++f) Write(folder + "/file" + std::to_string(f) + extensions[f % 10], {});
  }
}

// Text files of source-like lines and some binary files; one file in fifty holds the word.
size_t MakeTextTree(const std::string& root, size_t megabytes) {
  std::mt19937 random(29);
  const std::string words[] = {"static", "return", "folder", "const", "value", "検索", "の", "int", "while", "name"};
  size_t written = 0, files = 0, hits = 0;
  while (written < megabytes << 20) {
    std::string folder = root + "/t" + std::to_string(files / 40);
    if (files % 40 == 0) std::filesystem::create_directories(folder);
    std::string content;
    const size_t size = 64 * 1024 + random() % (2 << 20);
    if (files % 7 == 6) {
      content.resize(size);
      for (char& c : content) c = static_cast<char>(random());
    } else {
      while (content.size() < size) {
        for (int w = 0; w < 10; ++w) content += words[random() % 10] + ' ';
        content += '\n';
      }
      if (files % 50 == 0) {
        content.insert(content.size() / 2, " needle_29 ");
        ++hits;
      }
    }
    Write(folder + "/f" + std::to_string(files) + (files % 7 == 6 ? ".bin" : ".txt"), content);
    written += content.size();
    ++files;
  }
  return hits;
}

// Runs a search to its end; the seconds it took, the hits in count.
double TimeSearch(const SearchQuery& query, size_t& count) {
  std::atomic<size_t> hits{0};
  auto masks = std::make_shared<NameMasks>(query.masks);
  FileSearch search(
      query, [masks](std::string_view n) { return masks->Matches(n); },
      [&](std::vector<SearchHit>&& batch) { hits += batch.size(); });
  double start = Now();
  if (!search.Start()) return -1;
  search.Wait();
  count = hits;
  return Now() - start;
}

// Alternates ours and theirs; prints the median ratio with its spread.
bool Compare(const char* key, const SearchQuery& query, const std::vector<std::string>& theirs, size_t want) {
  std::vector<double> a, b, ratios;
  size_t count = 0;
  TimeSearch(query, count);  // warms the caches for both
  TimeCommand(theirs);
  for (int run = 0; run < kRuns; ++run) {
    double x = TimeSearch(query, count), y = TimeCommand(theirs);
    if (x < 0 || y < 0 || count != want) {
      std::fprintf(stderr, "%s: %zu hits, %zu wanted\n", key, count, want);
      return false;
    }
    a.push_back(x);
    b.push_back(y);
    ratios.push_back(x / y);
  }
  auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  std::printf("%s=%.3f\n%s_spread=%.3f-%.3f\n%s_seconds=%.3f\n%s_reference_seconds=%.3f\n", key, Median(ratios), key,
              *low, *high, key, Median(a), key, Median(b));
  std::fflush(stdout);
  return true;
}

bool HaveProgram(const char* name) {
  return TimeCommand({"sh", "-c", std::string("command -v ") + name + " >/dev/null"}) >= 0;
}

// Notes the first paint of a list's views that shows a row.
class FirstRowPaint : public QObject {
 public:
  explicit FirstRowPaint(TShellListView* list) : list_(list) {
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(list->ReportView()), static_cast<QAbstractItemView*>(list->IconView())})
      view->viewport()->installEventFilter(this);
  }
  double at = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && at < 0 && list_->FileList()->Count() > 0) at = Now();
    return QObject::eventFilter(watched, event);
  }

 private:
  TShellListView* list_;
};

// Opens the search dialog in the window's left pane, fills it in, presses
// Enter and waits for the first result row to be painted.
double FirstHitMs(TForm1& form, const std::string& root) {
  form.LV1->setFocus();
  QApplication::processEvents();
  FirstRowPaint paint(form.LV1);
  double start = -1;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<TFormSearch*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    answer.stop();
    dialog->Folder->setEditText(QString::fromStdString(root));
    dialog->Masks->setEditText("first_hit.txt");
    dialog->Text->setEditText({});
    QApplication::processEvents();
    start = Now();
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  answer.start(5);
  TSearchController::Of(&form)->OpenDialog(form.LV1);
  while (paint.at < 0 && start > 0 && Now() - start < 5) QApplication::processEvents(QEventLoop::AllEvents, 1);
  const double took = start > 0 && paint.at > 0 ? (paint.at - start) * 1000 : -1;
  form.LV1->setFocus();
  TTExecute(form);  // closes the results tab, which stops the search
  QApplication::processEvents();
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string root = bench::WorkFolder(argc, argv, "tolvane-search");
  if (root.empty()) {
    std::fprintf(stderr, "no work folder\n");
    return 1;
  }
  std::printf("work_folder=%s\n", root.c_str());
  std::fflush(stdout);
  bool ok = true;

  MakeNameTree(root + "/names");
  SearchQuery names;
  names.folder = root + "/names";
  names.masks = "*.log";
  ok = Compare("find_name_200k_vs_find", names, {"find", names.folder, "-name", "*.log"}, kNameFiles / 10) && ok;
  std::filesystem::remove_all(root + "/names");

  const char* mb = std::getenv("SEARCH_BENCH_MB");
  const size_t hits = MakeTextTree(root + "/text", mb ? std::strtoul(mb, nullptr, 10) : 500);
  SearchQuery text;
  text.folder = root + "/text";
  text.text = "needle_29";
  text.matchCase = true;
  text.encoding = TextEncoding::Utf8;
  ok = Compare("find_text_vs_grep", text, {"grep", "-rlF", "needle_29", text.folder}, hits) && ok;
  if (HaveProgram("rg"))
    ok = Compare("find_text_vs_rg", text, {"rg", "-l", "-F", "needle_29", text.folder}, hits) && ok;
  else
    std::printf("find_text_vs_rg=skipped (no rg)\n");
  std::filesystem::remove_all(root + "/text");

  // The window: a hit in the first folder of a tree that goes on for long.
  bench::UseStateFolderIn(root);
  const std::string tree = root + "/window";
  MakeNameTree(tree);
  Write(tree + "/first_hit.txt", "here");
  {
    std::ofstream(root + "/state/log/Path1SL.text") << root + "/home\r\n";
    std::ofstream(root + "/state/log/Path2SL.text") << root + "/home\r\n";
    QApplication app(argc, argv);
    auto form = std::make_unique<TForm1>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) QTest::qWait(100);
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
      const double ms = FirstHitMs(*form, tree);
      if (ms < 0) break;
      times.push_back(ms);
    }
    if (times.size() == size_t(kRuns)) {
      auto [low, high] = std::minmax_element(times.begin(), times.end());
      std::printf("find_first_hit_ms=%.1f\nfind_first_hit_ms_spread=%.1f-%.1f\n", Median(times), *low, *high);
    } else {
      std::printf("find_first_hit_ms=failed (no row painted)\n");
      ok = false;
    }
    form->close();
    form.reset();
    WaitForWatcherThreads();
  }
  std::filesystem::remove_all(root);
  return ok ? 0 : 1;
}
