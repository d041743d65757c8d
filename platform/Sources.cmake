# platform/: one static library per folder, each using only the folders before it
# (scripts/check-layers.sh holds the #include lines to the same order):
#
#   system     processes, threads, libraries, watchers, errors          Qt Core
#   state      settings files and the state folder                      system
#   graphics   bitmaps and picture formats                              system, Qt Gui
#   namespace  folders, item lists, icons, the context-menu interface   state, Qt Gui
#   search     finding files by name, text, size and date; the results folder   namespace
#   fileops    the file-operation engine: copy, move, trash, undo      namespace
#   network    sftp, smb and WebDAV locations through GIO/GVfs          fileops, GIO
#   desktop    clipboard and drag formats, drop targets, open-with      fileops
#   ui         the dialogs and menus, the only Qt Widgets code          desktop, graphics
#
# The ui layer fills the interfaces of the ones below at start-up (InstallPlatformUi);
# everything below it builds and runs without a display. A new folder gets a list
# here, a tolvane_platform_layer line below and a line in scripts/check-layers.sh.
# A unit's source and header stand on one line.
set(PLATFORM_SYSTEM_SOURCES
  platform/system/ChangeNotification.cpp platform/system/ChangeNotification.h
  platform/system/DescriptorLimit.cpp platform/system/DescriptorLimit.h
  platform/system/Exception.cpp platform/system/Exception.h
  platform/system/FileKind.cpp platform/system/FileKind.h
  platform/system/Library.cpp platform/system/Library.h
  platform/system/LocalInstance.cpp platform/system/LocalInstance.h
  platform/system/MemoryBlocks.cpp platform/system/MemoryBlocks.h
  platform/system/ReadFull.h
  platform/system/ScopeGuard.h
  platform/system/SyncCall.cpp platform/system/SyncCall.h
  platform/system/TextFiles.cpp platform/system/TextFiles.h
  platform/system/TimeZone.cpp platform/system/TimeZone.h
  platform/system/TrailingSlash.h
  platform/system/UniqueFd.cpp platform/system/UniqueFd.h
  platform/system/WaitObjects.cpp platform/system/WaitObjects.h)
set(PLATFORM_STATE_SOURCES
  platform/state/AtomicFile.cpp platform/state/AtomicFile.h
  platform/state/IniFile.cpp platform/state/IniFile.h
  platform/state/LineList.cpp platform/state/LineList.h
  platform/state/Registry.cpp platform/state/Registry.h
  platform/state/StateFolder.cpp platform/state/StateFolder.h)
set(PLATFORM_GRAPHICS_SOURCES
  platform/graphics/Bitmap.cpp platform/graphics/Bitmap.h
  platform/graphics/Graphic.cpp platform/graphics/Graphic.h
  platform/graphics/PictureFormats.cpp platform/graphics/PictureFormats.h)
set(PLATFORM_NAMESPACE_SOURCES
  platform/namespace/ContextMenuProvider.cpp platform/namespace/ContextMenuProvider.h
  platform/namespace/DirentReader.cpp platform/namespace/DirentReader.h
  platform/namespace/Drives.cpp platform/namespace/Drives.h
  platform/namespace/FileInfo.cpp
  platform/namespace/FileSystemFolder.cpp platform/namespace/FileSystemFolder.h
  platform/namespace/FileTime.cpp
  platform/namespace/FolderEntries.cpp platform/namespace/FolderEntries.h
  platform/namespace/IDList.cpp platform/namespace/IDList.h
  platform/namespace/ItemID.cpp platform/namespace/ItemID.h
  platform/namespace/LocationPath.cpp platform/namespace/LocationPath.h
  platform/namespace/NameCompare.cpp platform/namespace/NameCompare.h
  platform/namespace/PathText.cpp platform/namespace/PathText.h
  platform/namespace/ShellApi.h
  platform/namespace/ShellFolderBase.cpp platform/namespace/ShellFolderBase.h
  platform/namespace/ShellNamespace.cpp
  platform/namespace/SystemImageList.cpp platform/namespace/SystemImageList.h
  platform/namespace/TrashFolder.cpp platform/namespace/TrashFolder.h)
set(PLATFORM_FILEOPS_SOURCES
  platform/fileops/BatchRename.cpp platform/fileops/BatchRename.h
  platform/fileops/CopyFile.cpp platform/fileops/CopyFile.h
  platform/fileops/CopyAttributes.cpp platform/fileops/CopyAttributes.h
  platform/fileops/CopyTree.cpp
  platform/fileops/EmptyRecycleBin.cpp
  platform/fileops/ErrorText.cpp platform/fileops/ErrorText.h
  platform/fileops/FileLinks.cpp platform/fileops/FileLinks.h
  platform/fileops/FileOperation.cpp platform/fileops/FileOperation.h
  platform/fileops/FileOperationJob.cpp platform/fileops/FileOperationJob.h
  platform/fileops/TimeLeft.h
  platform/fileops/FolderCompare.cpp platform/fileops/FolderCompare.h
  platform/fileops/FolderSync.cpp platform/fileops/FolderSync.h
  platform/fileops/RenamePattern.cpp platform/fileops/RenamePattern.h
  platform/fileops/ReplaceBeside.cpp platform/fileops/ReplaceBeside.h
  platform/fileops/Trash.cpp platform/fileops/Trash.h
  platform/fileops/UndoJournal.cpp)
set(PLATFORM_SEARCH_SOURCES
  platform/search/FileSearch.cpp platform/search/FileSearch.h
  platform/search/SearchQuery.cpp platform/search/SearchQuery.h
  platform/search/SearchResultsFolder.cpp platform/search/SearchResultsFolder.h
  platform/search/TextMatcher.cpp platform/search/TextMatcher.h)
set(PLATFORM_NETWORK_SOURCES
  platform/network/GioFolder.cpp platform/network/GioFolder.h
  platform/network/GioOperations.cpp platform/network/GioOperations.h
  platform/network/GioSupport.h
  platform/network/Location.cpp platform/network/Location.h
  platform/network/LocationChanges.cpp platform/network/LocationChanges.h
  platform/network/RemoteCopy.cpp
  platform/network/RemoteListing.cpp)
set(PLATFORM_DESKTOP_SOURCES
  platform/desktop/DropTarget.cpp platform/desktop/DropTarget.h
  platform/desktop/FilePayload.cpp platform/desktop/FilePayload.h
  platform/desktop/OpenWith.cpp platform/desktop/OpenWith.h)
set(PLATFORM_UI_SOURCES
  platform/ui/ContextMenu.cpp platform/ui/ContextMenu.h
  platform/ui/FileOperationDialogs.cpp platform/ui/FileOperationDialogs.h
  platform/ui/MountDialogs.cpp platform/ui/MountDialogs.h
  platform/ui/OpenWithDialog.cpp platform/ui/OpenWithDialog.h
  platform/ui/PlatformUi.cpp platform/ui/PlatformUi.h
  platform/ui/PropertiesDialog.cpp platform/ui/PropertiesDialog.h)

# tolvane_platform_<folder>: its sources, and what it builds on (public: its headers use them).
function(tolvane_platform_layer folder)
  string(TOUPPER ${folder} upper)
  add_library(tolvane_platform_${folder} STATIC ${PLATFORM_${upper}_SOURCES})
  target_include_directories(tolvane_platform_${folder} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(tolvane_platform_${folder} PUBLIC ${ARGN})
endfunction()

tolvane_platform_layer(system Qt6::Core Threads::Threads ${CMAKE_DL_LIBS})
tolvane_platform_layer(state tolvane_platform_system)
tolvane_platform_layer(graphics tolvane_platform_system Qt6::Gui)
tolvane_platform_layer(namespace tolvane_platform_state Qt6::Gui)
tolvane_platform_layer(search tolvane_platform_namespace)
tolvane_platform_layer(network tolvane_platform_fileops)
tolvane_platform_layer(fileops tolvane_platform_namespace)
tolvane_platform_layer(desktop tolvane_platform_fileops)
tolvane_platform_layer(ui tolvane_platform_desktop tolvane_platform_search tolvane_platform_network tolvane_platform_graphics
  Qt6::Widgets)

# The text preview's charset detector.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UCHARDET REQUIRED IMPORTED_TARGET uchardet)
target_link_libraries(tolvane_platform_system PRIVATE PkgConfig::UCHARDET)
# GIO: network locations are mounted and mapped by the desktop's own GVfs.
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
target_link_libraries(tolvane_platform_network PRIVATE PkgConfig::GIO)
# libacl: a copy keeps its source's ACLs, as cp -a does.
find_path(ACL_INCLUDE_DIR sys/acl.h REQUIRED)
find_library(ACL_LIBRARY acl REQUIRED)
target_include_directories(tolvane_platform_fileops PRIVATE ${ACL_INCLUDE_DIR})
target_link_libraries(tolvane_platform_fileops PRIVATE ${ACL_LIBRARY})

# The whole of platform/, for the layers above it.
add_library(tolvane_platform INTERFACE)
target_link_libraries(tolvane_platform INTERFACE tolvane_platform_ui)
