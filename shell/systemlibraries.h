#pragma once
// The system components the shell loads by name at run time: the Windows
// 95/98 password check ("PASSWORD.CPL", "VerifyScreenSavePwd") and the
// password-change dialog ("MPR.DLL", "PwdChangePasswordA"), with the
// platform's version query.  This desktop has none of them, so by default
// every library is absent and the platform is not Windows 95/98; the code
// that uses them stays, and tests install libraries of their own.
#include <cstdint>

#include "platform/wintypes.h"

using HMODULE = uintptr_t;
using FARPROC = void (*)();

// BOOL VerifyScreenSavePwd(HWND owner): non-zero when the password was right.
using VerifyScreenSavePwdProc = BOOL (*)(HWND owner);
// DWORD PwdChangePasswordA(const char* provider, HWND owner, DWORD reserved, void* reserved2).
using PwdChangePasswordProc = DWORD (*)(const char* provider, HWND owner, DWORD reserved, void* reserved2);

class SystemLibraries {
 public:
  virtual ~SystemLibraries() = default;
  // The platform identifier is 1 (Windows 95, 98, Me).
  virtual bool isWin9x() { return false; }
  // A handle of the loaded library, 0 when it is absent.
  virtual HMODULE loadLibrary(const char* name) {
    (void)name;
    return 0;
  }
  virtual FARPROC getProcAddress(HMODULE library, const char* name) {
    (void)library;
    (void)name;
    return nullptr;
  }
  virtual void freeLibrary(HMODULE library) { (void)library; }
};

// The process-wide one; a test installs its own (nullptr restores the
// default, which has no libraries).  The caller keeps ownership.
SystemLibraries& systemLibraries();
void setSystemLibraries(SystemLibraries* libraries);
