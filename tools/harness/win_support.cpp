#include "tools/harness/win_support.h"

// After windows.h, which they need.
#include <wincodec.h>
#include <winternl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>

namespace tindra::test {

// Wine keeps each process's GDI handle table where the process environment block
// points (GdiSharedHandleTable): its live, non-stock entries are counted. The harness
// is built for the same machine as the program it measures, so the block's layout is
// its own.
long GdiObjectsOf(HANDLE process) {
  if (DWORD n = GetGuiResources(process, GR_GDIOBJECTS)) return static_cast<long>(n);
  PROCESS_BASIC_INFORMATION info{};
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &info, sizeof info, nullptr) != 0)
    return -1;
  constexpr SIZE_T kPebGdiTableOffset = sizeof(void*) == 4 ? 0x94 : 0xF8;
  ULONG_PTR table = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process,
                         reinterpret_cast<const BYTE*>(info.PebBaseAddress) + kPebGdiTableOffset,
                         &table, sizeof table, &got) ||
      !table)
    return -1;
  // 0x10000 entries of 24 bytes, alike for both machines: object (64 bits), owner,
  // unique (stock flag in bit 7 of its first byte), type, flags, user pointer (64 bits).
  constexpr size_t kEntries = 0x10000, kEntrySize = 24;
  std::vector<BYTE> entries(kEntries * kEntrySize);
  if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                         entries.size(), &got) ||
      got != entries.size())
    return -1;
  long live = 0;
  for (size_t i = 0; i < kEntries; ++i) {
    const BYTE* e = &entries[i * kEntrySize];
    if (e[14] != 0 && !(e[12] & 0x80)) ++live;
  }
  return live;
}

// Wine's user handles are 0x20 + 2 * slot; a value whose upper word is 0 names the slot
// whatever its generation, so every live window of any process is found this way.
long UserObjectsOf(HANDLE process, DWORD pid) {
  if (DWORD n = GetGuiResources(process, GR_USEROBJECTS)) return static_cast<long>(n);
  long count = 0;
  for (ULONG v = 0x20; v < 0x10000; v += 2) {
    HWND h = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(v));
    if (IsWindow(h) && ProcessOf(h) == pid) ++count;
  }
  return count;
}

long KernelHandlesOf(HANDLE process, DWORD pid) {
  DWORD n = 0;
  if (GetProcessHandleCount(process, &n) && n) return static_cast<long>(n);
  struct Entry {  // one row of the system's handle list (information class 16)
    ULONG ownerPid;
    BYTE objectType, flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
  };
  constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  std::vector<BYTE> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    NTSTATUS status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                               static_cast<ULONG>(buffer.size()), &needed);
    if (status == static_cast<NTSTATUS>(0xC0000004L) && buffer.size() < (64u << 20)) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));  // length mismatch
      continue;
    }
    if (status != 0) return -1;
    break;
  }
  ULONG rows = 0;
  std::memcpy(&rows, buffer.data(), sizeof rows);
  const size_t first = sizeof(ULONG_PTR);  // the count, padded to the entries' alignment
  if (rows > (buffer.size() - first) / sizeof(Entry)) return -1;
  long count = 0;
  for (ULONG i = 0; i < rows; ++i) {
    Entry e;
    std::memcpy(&e, buffer.data() + first + i * sizeof(Entry), sizeof e);
    if (e.ownerPid == pid) ++count;
  }
  return count;
}

long RunAndWait(const std::wstring& commandLine, DWORD timeoutMs,
                const std::function<void()>& meanwhile) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -2;
  CloseHandle(pi.hThread);
  win32::UniqueHandle process(pi.hProcess);
  const bool ended = PumpUntil(
      [&] {
        if (meanwhile) meanwhile();
        return WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT;
      },
      timeoutMs, 20);
  if (!ended) {
    TerminateProcess(process.get(), 99);
    WaitForSingleObject(process.get(), 5000);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<long>(code);
}

Shot Capture(RECT area) {
  Shot shot;
  shot.x = area.left;
  shot.y = area.top;
  shot.width = area.right - area.left;
  shot.height = area.bottom - area.top;
  shot.pixels.resize(static_cast<size_t>(shot.width) * shot.height);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, shot.width, shot.height, screen, shot.x, shot.y, SRCCOPY);
  GdiFlush();
  const auto* src = static_cast<const uint32_t*>(bits);
  for (size_t i = 0; i < shot.pixels.size(); ++i) shot.pixels[i] = src[i] & 0xFFFFFF;
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return shot;
}

bool SavePng(const Shot& shot, const std::wstring& path) {
  using Microsoft::WRL::ComPtr;
  bool saved = false;
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    std::vector<uint32_t> pixels = shot.pixels;
    const UINT stride = static_cast<UINT>(shot.width) * 4;
    saved =
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&factory))) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
        SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(static_cast<UINT>(shot.width), static_cast<UINT>(shot.height))) &&
        SUCCEEDED(frame->SetPixelFormat(&format)) &&
        SUCCEEDED(frame->WritePixels(static_cast<UINT>(shot.height), stride,
                                     stride * static_cast<UINT>(shot.height),
                                     reinterpret_cast<BYTE*>(pixels.data()))) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return saved;
}

StepCountersSection::StepCountersSection()
    : mapping_(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(win32::StepCounters), win32::kStepCountersName)) {
  if (mapping_)
    view_ = static_cast<win32::StepCounters*>(
        MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, sizeof(win32::StepCounters)));
  if (view_) {
    view_->version = 1;
    view_->works = static_cast<uint32_t>(win32::Work::kCount);
  }
}

StepCountersSection::~StepCountersSection() {
  if (view_) UnmapViewOfFile(view_);
}

}  // namespace tindra::test
