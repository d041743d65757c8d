#pragma once
#include "archive/Archiver.h"

class TBGA32 : public TDllArchiver {
 public:
  TBGA32() { LoadDLL(); }
  static void LoadDLL();
  static void FreeDLL();
  static TBindingSlot Binding;

  int Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int Delete(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
              const TArchiverOptions& options) override;
  int CheckArchive(const std::string& fileName, int mode, int extra) override;
  void EnsureDLL() override { LoadDLL(); }

  std::string BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                               const std::string& destDir, const TFileArgs& files, bool useResFile,
                               const TArchiverOptions& o) const;

 protected:
  TArchiverDll& Dll() const override { return Binding.Get(); }
};

bool ProbeBga(const std::string& fileName);
