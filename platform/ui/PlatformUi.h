#pragma once
// Hands the ui layer's widgets to the layers below, which only know them by
// their interfaces: the folders' context menus, the file operations' dialogs
// and the input block while one runs, and the message box for errors. The
// program and the test programs call it once at start-up, after the
// application object exists.
void InstallPlatformUi();

// Makes drops go through the file-operation engine: copy and move with undo,
// links by CreateLinksInFolder.
void InstallFileOperationDropHandler();
