#include "update/win32/UpdatePlatform_win32.h"

#include <windows.h>

#include <vector>

#include "app/modMain.h"
#include "build_config.h"
#include "common/errors.h"
#include "common/msgbox.h"
#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/program_path.h"
#include "fileutil/modFile.h"
#include "update/AutoUpdater.h"
#include "update/modAutoUpdateV1_Download.h"
#include "update/modAutoUpdateV1_Launcher.h"
#include "update/modWaitProc.h"
#include "update/win32/http_win32.h"

namespace tindra::win32 {

std::u16string Win32UpdatePlatform::ProgramFolder() { return win32::ProgramFolder(); }

std::u16string Win32UpdatePlatform::WindowsFolder() {
  wchar_t buf[MAX_PATH];
  UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) Raise(kErrPathNotFound);
  return FromWide(std::wstring_view(buf, n));
}

std::u16string Win32UpdatePlatform::ExeBaseName() { return ProgramBaseName(); }

int16_t Win32UpdatePlatform::ProgramRevision() {
  // The last part of the file version in the program's own version block; the
  // build setting when the block cannot be read.
  std::wstring path = ToWide(ProgramPath());
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size > 0) {
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (GetFileVersionInfoW(path.c_str(), 0, size, block.data()) &&
        VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed &&
        len >= sizeof(VS_FIXEDFILEINFO) && LOWORD(fixed->dwFileVersionLS) <= 32767) {
      return static_cast<int16_t>(LOWORD(fixed->dwFileVersionLS));
    }
  }
  return TINDRA_REVISION;
}

std::optional<std::u16string> Win32UpdatePlatform::FindOrdinaryFile(const std::u16string& path) {
  // Wildcards would make the search match other names: no file has such a name.
  if (path.empty() || path.find_first_of(u"*?") != std::u16string::npos) return std::nullopt;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(WidePtr(path), &data));
  if (!find) {
    switch (GetLastError()) {
      case ERROR_NOT_READY:
        Raise(kErrDeviceUnavailable);
      case ERROR_INVALID_NAME:
      case ERROR_BAD_PATHNAME:
      case ERROR_FILENAME_EXCED_RANGE:
        Raise(kErrBadFileName);
      default:
        return std::nullopt;
    }
  }
  const DWORD excluded = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (data.dwFileAttributes & excluded) return std::nullopt;
  return FromWide(data.cFileName);
}

std::u16string Win32UpdatePlatform::GetFileVerNumber(const std::u16string& fileName,
                                                     bool includeBuild, bool silent) {
  return tindra::GetFileVerNumber(fileName, includeBuild, silent);
}

std::u16string Win32UpdatePlatform::ReadUrlText(const std::u16string& url) {
  return tindra::ReadUrlText(url);
}

int16_t Win32UpdatePlatform::DownloadToFile(const std::u16string& url,
                                            const std::u16string& localPath) {
  return tindra::DownloadToFile(url, localPath);
}

void Win32UpdatePlatform::StartProcessAndWait(const std::u16string& fileName,
                                              const int32_t& ownerWindow,
                                              const std::u16string& parameters,
                                              const std::u16string& directory,
                                              const int16_t& hidden, const int16_t& minimized) {
  tindra::StartProcessAndWait(fileName, ownerWindow, parameters, directory, hidden, minimized);
}

void Win32UpdatePlatform::StartCommand(const std::u16string& commandLine, int32_t windowState) {
  // ANSI call, as a command line of the ANSI code page is what the started program's
  // own parsing expects on a Korean system.
  std::optional<std::string> line = ToAnsiExact(commandLine);
  if (!line) Raise(kErrFileNotFound);
  std::vector<char> mutableLine(line->begin(), line->end());
  mutableLine.push_back('\0');
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(windowState);
  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof(pi));
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    Raise(kErrFileNotFound);
  }
  UniqueHandle process(pi.hProcess);
  UniqueHandle thread(pi.hThread);
}

bool Win32UpdatePlatform::AfterFailedHandOver() {
  wchar_t value[8] = {};
  const DWORD n = GetEnvironmentVariableW(win32::WidePtr(kFailedHandOverVariable), value, 8);
  // Not passed on to the programs this one starts.
  SetEnvironmentVariableW(win32::WidePtr(kFailedHandOverVariable), nullptr);
  return n > 0 && n < 8;
}

void Win32UpdatePlatform::ShowMessage(const std::u16string& text, uint32_t style) {
  tindra::ShowMessage(text, style);
}

void Win32UpdatePlatform::EndProcess() {
  // At once: no window's unload handling and no exit handlers run.
  TerminateProcess(GetCurrentProcess(), 0);
  ExitProcess(0);
}

}  // namespace tindra::win32

namespace tindra {

void RunAutoUpdate(const int16_t& skipSelfUpdate) {
  win32::Win32UpdatePlatform platform;
  // What a transfer killed with an earlier run left behind.
  try {
    win32::RemoveLeftoverDownloads(
        platform.ProgramFolder(),
        {std::u16string(kCheckerName) + kPartSuffix, std::u16string(kReplacerName) + kPartSuffix});
  } catch (const AppError&) {
    // No program folder: the update reports that itself.
  }
  RunAutoUpdate(platform, skipSelfUpdate);
}

}  // namespace tindra
