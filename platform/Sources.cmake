# The platform library's files, listed so that a new one shows in review: a unit's source and header on one line.
set(PLATFORM_SOURCES
  platform/desktop/ContextMenu.cpp platform/desktop/ContextMenu.h
  platform/desktop/DropTarget.cpp platform/desktop/DropTarget.h
  platform/desktop/FilePayload.cpp platform/desktop/FilePayload.h
  platform/desktop/OpenWith.cpp platform/desktop/OpenWith.h
  platform/desktop/PropertiesDialog.cpp platform/desktop/PropertiesDialog.h
  platform/fileops/CopyFile.cpp platform/fileops/CopyFile.h
  platform/fileops/CopyAttributes.cpp platform/fileops/CopyAttributes.h
  platform/fileops/CopyTree.cpp
  platform/fileops/EmptyRecycleBin.cpp
  platform/fileops/ErrorText.cpp platform/fileops/ErrorText.h
  platform/fileops/FileOperation.cpp platform/fileops/FileOperation.h
  platform/fileops/FileOperationDialogs.cpp platform/fileops/FileOperationDialogs.h
  platform/fileops/FileOperationJob.cpp platform/fileops/FileOperationJob.h
  platform/fileops/Trash.cpp platform/fileops/Trash.h
  platform/fileops/UndoJournal.cpp
  platform/graphics/Bitmap.cpp platform/graphics/Bitmap.h
  platform/graphics/Graphic.cpp platform/graphics/Graphic.h
  platform/graphics/PictureFormats.cpp platform/graphics/PictureFormats.h
  platform/namespace/Drives.cpp platform/namespace/Drives.h
  platform/namespace/FileInfo.cpp
  platform/namespace/FileSystemFolder.cpp platform/namespace/FileSystemFolder.h
  platform/namespace/FileTime.cpp
  platform/namespace/FolderEntries.cpp platform/namespace/FolderEntries.h
  platform/namespace/IDList.cpp platform/namespace/IDList.h
  platform/namespace/ItemID.cpp platform/namespace/ItemID.h
  platform/namespace/NameCompare.cpp platform/namespace/NameCompare.h
  platform/namespace/PathText.cpp platform/namespace/PathText.h
  platform/namespace/ShellApi.h
  platform/namespace/ShellFolderBase.cpp platform/namespace/ShellFolderBase.h
  platform/namespace/ShellNamespace.cpp
  platform/namespace/SystemImageList.cpp platform/namespace/SystemImageList.h
  platform/namespace/TrashFolder.cpp platform/namespace/TrashFolder.h
  platform/state/AtomicFile.cpp platform/state/AtomicFile.h
  platform/state/IniFile.cpp platform/state/IniFile.h
  platform/state/LineList.cpp platform/state/LineList.h
  platform/state/StateFolder.cpp platform/state/StateFolder.h
  platform/system/ChangeNotification.cpp platform/system/ChangeNotification.h
  platform/system/DescriptorLimit.cpp platform/system/DescriptorLimit.h
  platform/system/Exception.cpp platform/system/Exception.h
  platform/system/FileKind.cpp platform/system/FileKind.h
  platform/system/Library.cpp platform/system/Library.h
  platform/system/LocalInstance.cpp platform/system/LocalInstance.h
  platform/system/MemoryBlocks.cpp platform/system/MemoryBlocks.h
  platform/system/Registry.cpp platform/system/Registry.h
  platform/system/ScopeGuard.h
  platform/system/SyncCall.cpp platform/system/SyncCall.h
  platform/system/TextFiles.cpp platform/system/TextFiles.h
  platform/system/TrailingSlash.h
  platform/system/UniqueFd.cpp platform/system/UniqueFd.h
  platform/system/WaitObjects.cpp platform/system/WaitObjects.h)
