#pragma once
// LHA, and ARJ, which builds the same command lines for its own library.
#include "archive/Archiver.h"

class TLha32 : public TDllArchiver {
 public:
  TLha32() { LoadDLL(); }
  static void LoadDLL();
  static void FreeDLL();
  static TBindingSlot Binding;

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
  void EnsureDLL() override { LoadDLL(); }

  // The whole line: the command word, then the switches in the option set's
  // order, the archive, the folder and the files. Refuses (EAssertionFailed)
  // extraction without jse and any command without jso.
  std::string BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                               const std::string& destDir, const TFileArgs& files, bool useResFile,
                               const TArchiverOptions& options) const;

 protected:
  struct NoLoad {};
  explicit TLha32(NoLoad) {}
  TArchiverDll& Dll() const override { return Binding.Get(); }
};

class TArj32 : public TLha32 {
 public:
  TArj32() : TLha32(NoLoad{}) { LoadDLL(); }
  static void LoadDLL();
  static void FreeDLL();
  static TBindingSlot Binding;

  // ARJ only extracts: LHA's other commands are not offered to its library.
  int Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int Delete(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int Update(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
              const TArchiverOptions& options) override;
  int ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                 const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                 uint32_t* written) override;

  void EnsureDLL() override { LoadDLL(); }

 protected:
  TArchiverDll& Dll() const override { return Binding.Get(); }
};

bool ProbeLha(const std::string& fileName);
bool ProbeArj(const std::string& fileName);

// The OpenArchive mode the content probes use.
constexpr uint32_t kProbeOpenMode = 0x800002;
