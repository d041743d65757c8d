#pragma once
#include "archive/Archiver.h"

class TSevenZip32 : public TDllArchiver {
 public:
  TSevenZip32() { LoadDLL(); }
  static void LoadDLL();
  static void FreeDLL();
  static TBindingSlot Binding;

  int Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int Delete(TOLVANE_ARCHIVER_FILE_OP_PARAMS) override;
  int MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
              const TArchiverOptions& options) override;
  void EnsureDLL() override { LoadDLL(); }

  // word is "x" for extraction; it becomes "e" when x = 0.
  std::string BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                               const std::string& destDir, const TFileArgs& files, bool useResFile,
                               const TArchiverOptions& o) const;

 protected:
  TArchiverDll& Dll() const override { return Binding.Get(); }
};
