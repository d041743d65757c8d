#pragma once
// tar and its compressed kinds, all over one library.
#include "archive/Archiver.h"

class TTar32 : public TDllArchiver {
 public:
  TTar32() { LoadDLL(); }
  static void LoadDLL();
  static void FreeDLL();
  static TBindingSlot Binding;

  int Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  // Writes the archive again without the named entries (the library's own --delete).
  int Delete(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
              const TArchiverOptions& options) override;
  int ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                 const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                 uint32_t* written) override;
  void EnsureDLL() override { LoadDLL(); }

  std::string BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                               const std::string& destDir, const TFileArgs& files, bool useResFile,
                               const TArchiverOptions& o) const;

 protected:
  TArchiverDll& Dll() const override { return Binding.Get(); }
  // The compression switch of the kind; none for plain tar.
  virtual void AddCompression(TCmdOpt& opt, const TArchiverOptions& o) const {}
};

class TTgz32 : public TTar32 {
 protected:
  void AddCompression(TCmdOpt& opt, const TArchiverOptions& o) const override;
};

class TBZ232 : public TTar32 {
 public:
  int MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
              const TArchiverOptions& options) override;

 protected:
  void AddCompression(TCmdOpt& opt, const TArchiverOptions& o) const override;
};

enum TArchiverType : int;
// atTar, atTgz, atBZ2 or atNone, from the library's idea of the file.
TArchiverType ProbeTar(const std::string& fileName);
