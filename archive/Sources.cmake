# The archive library's files, listed so that a new one shows in review: a unit's source and header on one line.
set(ARCHIVE_SOURCES
  archive/ArchiveCache.cpp archive/ArchiveCache.h
  archive/ArchiveCopyOut.cpp archive/ArchiveCopyOut.h
  archive/ArchiveFile.cpp archive/ArchiveFile.h
  archive/ArchiveFolder.cpp archive/ArchiveFolder.h
  archive/ArchiveListing.cpp archive/ArchiveListing.h
  archive/ArchiveUpdate.cpp archive/ArchiveUpdate.h
  archive/Archiver.cpp archive/Archiver.h
  archive/ArchiverDll.cpp archive/ArchiverDll.h
  archive/ArchiverLibraryApi.h
  archive/ArchiverOptions.cpp archive/ArchiverOptions.h
  archive/Bga32.cpp archive/Bga32.h
  archive/Cab32.cpp archive/Cab32.h
  archive/CmdOpt.cpp archive/CmdOpt.h
  archive/Lha32.cpp archive/Lha32.h
  archive/Rar32.cpp archive/Rar32.h
  archive/SelfExtract.cpp archive/SelfExtract.h
  archive/SevenZip32.cpp archive/SevenZip32.h
  archive/Tar32.cpp archive/Tar32.h
  archive/Zip32.cpp archive/Zip32.h)
