# The window's files (main.cpp is the program's own), listed so that a new one shows in review.
set(APP_SOURCES
  app/CommandLine.cpp app/CommandLine.h
  app/CompareDialogs.cpp app/CompareDialogs.h
  app/Form2.cpp app/Form2.h
  app/Form3.cpp app/Form3.h
  app/Form4.cpp app/Form4.h
  app/FormSearch.cpp app/FormSearch.h
  app/InputNewDirDlg.cpp app/InputNewDirDlg.h
  app/KeyTable.cpp app/KeyTable.h
  app/LocationOpener.cpp app/LocationOpener.h app/UnlessStopped.h
  app/commands/ArchiveCommands.cpp
  app/commands/ArchiveFolderCommands.cpp
  app/commands/ArchiveWriteCommands.cpp app/commands/ArchiveWriteRun.h
  app/commands/BatchCommands.cpp
  app/commands/BarCommands.cpp
  app/commands/Commands.h
  app/commands/FileCommands.cpp
  app/commands/FuseLocationCommands.cpp
  app/commands/GioFolderCommands.cpp
  app/commands/MenuCommands.cpp
  app/commands/NavigationCommands.cpp
  app/commands/PackCommand.cpp
  app/commands/PreviewCommands.cpp
  app/commands/ProgramCommands.cpp
  app/commands/ViewCommands.cpp
  app/MainForm.h
  app/MainFormArchive.cpp
  app/MainFormCreate.cpp
  app/MainFormDestinations.cpp
  app/MainFormFiles.cpp
  app/MainFormFolderMenu.cpp
  app/MainFormKeys.cpp
  app/MainFormOpen.cpp
  app/MainFormPreview.cpp
  app/MainFormStartPaths.cpp
  app/MainFormState.cpp
  app/MainFormStatusLine.cpp
  app/MainFormTabs.cpp
  app/MainFormToolbars.cpp
  app/Pane.cpp app/Pane.h
  app/PackDialog.cpp app/PackDialog.h
  app/PaneSplitter.cpp app/PaneSplitter.h
  app/PlatformWiring.cpp app/PlatformWiring.h
  app/PreviewPicture.cpp app/PreviewPicture.h
  app/RenameManyDialog.cpp app/RenameManyDialog.h
  app/RunControl.cpp app/RunControl.h
  app/SearchCommand.cpp app/SearchCommand.h
  app/SingleInstance.cpp app/SingleInstance.h
  app/TextDocument.cpp app/TextDocument.h
  app/TextPreview.cpp app/TextPreview.h
  app/TextView.cpp app/TextView.h
  app/VirtualKeys.cpp
  app/WindowParts.h
  app/WorkerRun.cpp app/WorkerRun.h)
