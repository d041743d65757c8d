# The shell library's files, listed so that a new one shows in review: a unit's source and header on one line.
set(SHELL_SOURCES
  shell/actions/ActionDispatch.cpp shell/actions/ActionDispatch.h
  shell/actions/NameMasks.cpp shell/actions/NameMasks.h
  shell/actions/ShellActns.cpp shell/actions/ShellActns.h
  shell/actions/Wildcard.cpp shell/actions/Wildcard.h
  shell/DeviceChangeData.h
  shell/DropEvents.cpp shell/DropEvents.h
  shell/FileListChanges.cpp
  shell/FileListGrowing.cpp
  shell/FileListMask.cpp
  shell/FolderReadAhead.cpp shell/FolderReadAhead.h
  shell/RowPool.cpp shell/RowPool.h
  shell/RowsByName.cpp shell/RowsByName.h
  shell/RowSort.cpp shell/RowSort.h
  shell/ShellComboBox.cpp shell/ShellComboBox.h
  shell/ShellComboBoxDrag.cpp
  shell/ShellComboList.cpp
  shell/ShellCtrlList.cpp
  shell/ShellCtrls.cpp shell/ShellCtrls.h
  shell/ShellFileItem.cpp
  shell/ShellFileList.cpp shell/ShellFileList.h
  shell/ShellIconView.cpp shell/ShellIconView.h
  shell/ShellIDListCommand.cpp
  shell/ShellItemViews.cpp shell/ShellItemViews.h
  shell/ShellListDelegate.cpp shell/ShellListDelegate.h
  shell/ShellListModel.cpp shell/ShellListModel.h
  shell/ShellListView.cpp shell/ShellListView.h
  shell/ShellListViewDrag.cpp
  shell/ShellListViewSettings.cpp
  shell/ShellReportView.cpp shell/ShellReportView.h
  shell/ShellPopupMenu.cpp shell/ShellPopupMenu.h
  shell/ShellTreeView.cpp shell/ShellTreeView.h
  shell/ShellTreeViewDrag.cpp
  shell/ShellTreeViewInput.cpp
  shell/ShellTreeViewWatch.cpp
  shell/WaitCursor.h
  shell/watch/ShDirWatcher.cpp shell/watch/ShDirWatcher.h
  shell/watch/ShFilesWatcher.cpp shell/watch/ShFilesWatcher.h
  shell/watch/WatcherThread.cpp shell/watch/WatcherThread.h)
