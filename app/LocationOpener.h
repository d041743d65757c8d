#pragma once
// Opens what a pane is asked to show, a folder path or a network location
// (sftp://, smb://, dav://): a path at once; a location on a worker, which
// mounts it through GIO when it is not mounted yet (asking for passwords with
// our dialogs) and finds its FUSE path; the list then shows that path, while
// the filter edit, tabs, histories and state files keep the URI. A location
// that cannot be opened is reported and the pane stays where it was.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/network/Location.h"
#include "platform/network/LocationChanges.h"
#include "platform/system/WaitObjects.h"

class TForm1;
class TShellListView;
class TPane;

class TLocationOpener : public QObject {
 public:
  // The list's opener (one per list, so both panes mount at once), made on first use.
  static TLocationOpener* Of(TForm1* form, TShellListView* list);
  ~TLocationOpener() override;

  // Shows text in list; done(shown) follows on the GUI thread (at once for a path).
  void Open(const std::string& text, std::function<void(bool shown)> done = {});
  // Shows path, a folder inside a location's FUSE mount, as Open does its
  // URI: the server is asked on a worker and Esc stops the wait. False when
  // the path's server is not mounted (any more): then nothing waits on it.
  bool OpenShown(const std::string& path);
  // True while list, still at the start's desktop, shows no rows for the
  // location it is reopening (its status line says so too).
  static bool Blanked(TShellListView* list);
  // True while a location is being mounted.
  bool Busy() const { return worker_.joinable(); }
  // Stops a mount in progress (Esc, a new location, the window closing).
  void Stop();

 private:
  TLocationOpener(TForm1* form, TShellListView* list);
  struct Found;
  void Finish(int generation, const Found& found);
  // Every few seconds while the list shows a location: re-read it when the
  // server says its folder changed (sftp has no change monitor; inotify on
  // the FUSE path sees only our own changes).
  void Poll();
  void Polled(const std::string& path, const network::LocationFacts& facts);
  // GIO's monitor of the shown location's folder, while it is shown; true
  // when it watches, so the poll has nothing to do.
  bool Monitored(const std::string& uri);
  // A list still at the start's desktop shows no rows while its first
  // folder is a location being opened; put back when that fails.
  void BlankWhileOpening();
  void Unblank();
  // Reads the shown folder again on a worker; its rows stay shown until the
  // new ones are in, however long a stalled server takes.
  void Reread(const std::string& path);

  TForm1* form_;
  unsigned rereads_ = 0;  // the latest re-read's number: an earlier one's end is stale
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  TEvent stop_{true};
  int generation_ = 0;
  TShellListView* list_;
  std::function<void(bool)> done_;
  QTimer poll_;
  std::thread poller_;
  std::atomic<bool> polling_{false};
  std::atomic<bool> pollStop_{false};
  std::string polledPath_, stamp_;
  // The last stamp was of the last seconds: the server's times are whole
  // seconds, so a change within the same second shows no new stamp.
  bool recent_ = false;
  std::unique_ptr<network::FolderMonitor> monitor_;
  QTimer changed_;  // the monitor's events, gathered into one re-read
  bool blank_ = false;
};

// Enter in a filter edit that holds a location: its last name is a mask when
// it has a wildcard, else a folder; the edit goes back to the pane's folder
// when the location cannot be opened.
void OpenTypedLocation(TForm1& form, TPane& pane);

// Esc: stops the pane's mount in progress, a listing under way (a slow
// server's), and the search of a results tab.
void StopKey(TForm1& form, TPane& pane);
