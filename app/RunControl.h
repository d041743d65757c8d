#pragma once
// How a run of the program is watched and ended from outside.
//
// Environment switches, for scripts and benchmarks:
//   TOLVANE_REPORT_FIRST_PAINT  prints the line "first-paint" on standard output
//                               as soon as the window has been painted once,
//                               and "lists-filled" once it has been painted
//                               with the rows of every folder list
//   TOLVANE_SCREENSHOT=FILE     saves a PNG picture of the window in FILE,
//                               TOLVANE_SCREENSHOT_AFTER_MS (default 2000) after
//                               the first paint
//   TOLVANE_QUIT_AFTER_MS=N     closes the window N ms after the first paint,
//                               as the user would (the state is written); a
//                               pending screenshot is taken first.
//   TOLVANE_KEYS=LETTERS        presses the letters one by one (400 ms apart,
//                               so each runs its single command) in the focused
//                               control after the first paint; the close waits
//                               for them
//   TOLVANE_REPORT_LIBRARIES    prints "library: PATH" on standard output for
//                               each of the program's own libraries and plug-ins
//                               loaded when the window closes
#include <string>
#include <vector>

class QWidget;
class TInstanceServer;

// In a run that closes itself nobody is there to close a message box: from
// now on messages go to standard error. Call before the window is made.
void PrepareUnattendedRun();
// Watches the window for the switches above.
void InstallRunControl(QWidget* window);

// SIGTERM, SIGINT and SIGHUP close the window as the user would, so the state
// is written also when the program is stopped from a terminal or a script.
// Catching starts at the first call (call it first thing, and again once the
// application exists, which then listens); a signal before the window is
// handed over closes the start's message boxes and closes the window as soon
// as it is handed over.
void CatchTerminationSignals();
void CloseOnTerminationSignals(QWidget* window);

// Shows the main window and runs the event loop until it closes; returns the
// loop's code once the window is gone and every watcher thread has ended, so
// no thread is left running into the application's destruction. startPaths
// and rightPaths are the folders and files of the command line; server, when
// given, brings the folders of later starts to the window.
int RunMainWindow(const std::vector<std::string>& startPaths, const std::vector<std::string>& rightPaths = {},
                  TInstanceServer* server = nullptr);
