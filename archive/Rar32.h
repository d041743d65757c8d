#pragma once
#include "archive/Archiver.h"

class TRar32 : public TDllArchiver {
 public:
  TRar32() { LoadDLL(); }
  static void LoadDLL();
  static void FreeDLL();
  static TBindingSlot Binding;

  int Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                 const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                 uint32_t* written) override;
  void EnsureDLL() override { LoadDLL(); }

  std::string BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                               const std::string& destDir, const TFileArgs& files, bool useResFile,
                               const TArchiverOptions& o) const;

 protected:
  TArchiverDll& Dll() const override { return Binding.Get(); }
};

bool ProbeRar(const std::string& fileName);
