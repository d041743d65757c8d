#pragma once
// ZIP over whichever of its three libraries exist, with the file names
// rewritten for the ZIP tools' wildcard syntax.
#include <memory>

#include "archive/Archiver.h"

class TZip32 : public TArchiver {
 public:
  TZip32() { LoadDLL(); }
  static void LoadDLL();  // never fails: loads whichever libraries exist
  static void FreeDLL();
  static TZipDll& Dll();
  static std::unique_ptr<TZipDll> Binding;

  HARC OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode) override;
  int FindFirst(HARC handle, TArchiveEntryInfo* info, const std::string& wildName) override;
  int FindNext(HARC handle, TArchiveEntryInfo* info) override;
  int CloseArchive(HARC handle) override;
  int Extract(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile, const TFileArgs& files,
              const std::string& destDir, const TArchiverOptions& options) override;
  int Pack(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile, const TFileArgs& files,
           const std::string& destDir, const TArchiverOptions& options) override;
  int Delete(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile, const TFileArgs& files,
             const std::string& destDir, const TArchiverOptions& options) override;
  int Update(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile, const TFileArgs& files,
             const std::string& destDir, const TArchiverOptions& options) override;
  int MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
              const TArchiverOptions& options) override;
  int ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                 const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                 uint32_t* written) override;
  int CheckArchive(const std::string& fileName, int mode, int extra) override;
  bool SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) override;
  bool KillOwnerWindowEx(ArcHWND wnd) override;
  void EnsureDLL() override { LoadDLL(); }

  // The lines after the command word.
  std::string ExtractLine(TCmdOpt& opt, const std::string& archive, const std::string& destDir, const TFileArgs& files,
                          bool useResFile, const TArchiverOptions& o) const;
  std::string Zip32jLine(TCmdOpt& opt, const std::string& archive, const std::string& destDir, const TFileArgs& files,
                         bool useResFile, const TArchiverOptions& o) const;
  std::string LmzipPackLine(TCmdOpt& opt, const std::string& archive, const TFileArgs& files, bool useResFile,
                            const TArchiverOptions& o) const;

 private:
  int RunZip(ArcHWND wnd, const std::string& line, const TCmdOpt& opt, std::string& output);
};

// "-a" -> "[-]a"; every "[" -> "[[]". Backslashes are ordinary characters.
std::string ZipNameConverter(const std::string& name);

bool ProbeZip(const std::string& fileName);
