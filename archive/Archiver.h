#pragma once
// The archiver of one format: the operations every format offers, each either
// overridden by the format or refused with the format's "not supported" text.
#include <functional>
#include <memory>
#include <string>

#include "archive/ArchiverDll.h"
#include "archive/ArchiverOptions.h"
#include "archive/CmdOpt.h"

// A precondition of a command line failed; the message carries where.
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(const std::string& message, const char* file, int line);
};

class TArchiver {
 public:
  TArchiver() = default;  // each format's constructor loads its library
  virtual ~TArchiver() = default;
  TArchiver(const TArchiver&) = delete;
  TArchiver& operator=(const TArchiver&) = delete;

  // Class-level in each format; the base ones are abstract.
  static void LoadDLL();
  static void FreeDLL();

  virtual HARC OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode);
  virtual int FindFirst(HARC handle, TArchiveEntryInfo* info, const std::string& wildName);
  virtual int FindNext(HARC handle, TArchiveEntryInfo* info);
  virtual int CloseArchive(HARC handle);
  // output is the caller's message buffer: its whole length is handed to the
  // library (none when empty).
  virtual int Extract(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                      const TFileArgs& files, const std::string& destDir, const TArchiverOptions& options) = 0;
  virtual int Pack(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                   const TFileArgs& files, const std::string& destDir, const TArchiverOptions& options);
  virtual int Delete(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                     const TFileArgs& files, const std::string& destDir, const TArchiverOptions& options);
  virtual int Update(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                     const TFileArgs& files, const std::string& destDir, const TArchiverOptions& options);
  virtual int MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
                      const TArchiverOptions& options);
  virtual int ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                         const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                         uint32_t* written);
  virtual int CheckArchive(const std::string& fileName, int mode, int extra);
  virtual bool SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback);
  virtual bool KillOwnerWindowEx(ArcHWND wnd);
  virtual void EnsureDLL() = 0;

  bool HasOwnerWindow() const { return OwnerWindow != nullptr; }

  ArcHWND OwnerWindow = nullptr;
  std::string CommandLine;

 protected:
  static void AddArchiveAndDir(TCmdOpt& opt, const std::string& archive, const std::string& dir);
  static int AddFileArgs(TCmdOpt& opt, const TArchiverOptions& options, bool useResFile, const TFileArgs& files);
  // Stores the line in CommandLine, runs it, and removes the builder's
  // response file afterwards.
  int RunCommand(const std::string& line, const TCmdOpt& opt, const std::function<int()>& call);
  static char* OutputData(std::string& output) { return output.empty() ? nullptr : output.data(); }
  static uint32_t OutputLength(const std::string& output) { return static_cast<uint32_t>(output.size()); }
};

// The full path of a name, relative names taken from the current folder.
std::string ExpandFileName(const std::string& name);

// The process-wide binding of one format, created by the format's LoadDLL.
// A binding whose library failed to load stays in place unloaded.
struct TBindingSlot {
  TBindingSlot(const char* caption, const char* prefix, const char* dllName)
      : Caption(caption), Prefix(prefix), DllName(dllName) {}
  // Libraries stay loaded until the process ends (unloading them while the
  // process exits would run their teardown after Qt's); the binding is freed.
  ~TBindingSlot() {
    if (Dll) Dll->Handle = nullptr;
  }
  void LoadDLL();
  void FreeDLL() { Dll.reset(); }
  TArchiverDll& Get();  // created (and loaded) again after FreeDLL

  const char* Caption;
  const char* Prefix;
  const char* DllName;
  std::unique_ptr<TArchiverDll> Dll;
};

// The operations that every single-library format passes to its binding.
class TDllArchiver : public TArchiver {
 public:
  HARC OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode) override;
  int FindFirst(HARC handle, TArchiveEntryInfo* info, const std::string& wildName) override;
  int FindNext(HARC handle, TArchiveEntryInfo* info) override;
  int CloseArchive(HARC handle) override;
  int CheckArchive(const std::string& fileName, int mode, int extra) override;
  bool SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) override;
  bool KillOwnerWindowEx(ArcHWND wnd) override;

 protected:
  virtual TArchiverDll& Dll() const = 0;
  int RunDll(ArcHWND wnd, const std::string& line, const TCmdOpt& opt, std::string& output);
};

// The parameter list shared by Extract, Pack, Delete and Update.
#define TOLVANE_ARCHIVER_FILE_OP_PARAMS                                                                   \
  ArcHWND wnd, const std::string &fileName, std::string &output, bool useResFile, const TFileArgs &files, \
      const std::string &destDir, const TArchiverOptions &options
