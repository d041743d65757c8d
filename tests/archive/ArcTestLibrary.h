#pragma once
// Points every format's binding at the test archiver library (ARCTEST32.so,
// which exports every prefix's entries and records its calls) for the life of
// the object, and reads back what the library was called with.
#include <string>

#include "archive/Bga32.h"
#include "archive/Cab32.h"
#include "archive/Lha32.h"
#include "archive/Rar32.h"
#include "archive/SevenZip32.h"
#include "archive/Tar32.h"
#include "archive/Zip32.h"
#include "platform/system/Library.h"

inline std::string TestLibraryPath() { return ExecutableFolder() + "/ARCTEST32.so"; }
inline std::string LmzipTestLibraryPath() { return ExecutableFolder() + "/lmzip-test/LMZIP32.so"; }

inline TBindingSlot* const kAllBindings[] = {&TLha32::Binding, &TArj32::Binding, &TCab32::Binding,     &TTar32::Binding,
                                             &TRar32::Binding, &TBGA32::Binding, &TSevenZip32::Binding};

// Makes the ZIP binding over these files (UNZIP32, LMZIP32, ZIP32J roles).
inline void UseZipLibraries(std::array<std::string, 3> names) {
  TZip32::FreeDLL();
  TZip32::Binding = std::make_unique<TZipDll>(std::move(names));
  TZip32::Binding->Load();
}

class ArcTestLibrary {
 public:
  // zipNames: the files playing UNZIP32, LMZIP32 and ZIP32J.
  explicit ArcTestLibrary(std::array<std::string, 3> zipNames = {TestLibraryPath(), "/nonexistent/LMZIP32.so",
                                                                 TestLibraryPath()}) {
    for (TBindingSlot* b : kAllBindings) {
      saved_.push_back(b->DllName);
      b->FreeDLL();
      b->DllName = "ARCTEST32.DLL";
    }
    UseZipLibraries(std::move(zipNames));
    module_ = LoadLibrary(TestLibraryPath());
  }
  ~ArcTestLibrary() {
    size_t k = 0;
    for (TBindingSlot* b : kAllBindings) {
      b->FreeDLL();
      b->DllName = saved_[k++];
    }
    TZip32::FreeDLL();
    if (module_) FreeLibrary(module_);
  }

  std::string LastEntry() const { return Call<const char*>("ArcTestLastEntry"); }
  std::string LastCommand() const { return Call<const char*>("ArcTestLastCommand"); }
  std::string LastResponse() const { return Call<const char*>("ArcTestLastResponse"); }
  bool LastOutputNull() const { return Call<int>("ArcTestLastOutputNull") != 0; }
  uint32_t LastOutputSize() const { return Call<uint32_t>("ArcTestLastOutputSize"); }
  void* LastWindow() const { return Call<void*>("ArcTestLastWindow"); }
  void* OwnerWindow() const { return Call<void*>("ArcTestOwnerWindow"); }

 private:
  template <class R>
  R Call(const char* name) const {
    auto f = reinterpret_cast<R (*)()>(GetProcAddress(module_, name));
    return f ? f() : R{};
  }

  std::vector<const char*> saved_;
  HMODULE module_ = nullptr;
};
