#include "popup/win32/popup_picture.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

#include "common/errors.h"
#include "common/numeric.h"
#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/window.h"
#include "popup/popup_resources.h"

namespace tindra::win32 {

namespace {

using Microsoft::WRL::ComPtr;

constexpr int kDesignWidth = 176;
constexpr int kDesignHeight = 128;

int Scaled(int design, int dpi) { return MulDiv(design, dpi > 0 ? dpi : 96, 96); }

// The bytes of an RCDATA resource of the executable (resource memory needs no release).
std::pair<const BYTE*, DWORD> ResourceBytes(int id) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /*RT_RCDATA*/);
  if (!info) return {nullptr, 0};
  HGLOBAL loaded = LoadResource(module, info);
  const DWORD size = SizeofResource(module, info);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return {nullptr, 0};
  return {static_cast<const BYTE*>(bytes), size};
}

BackgroundImage Decode(int width, int height) {
  BackgroundImage image;
  auto [bytes, size] = ResourceBytes(IDR_POPUP_BACKGROUND);
  if (!bytes) return image;

  ComScope com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  ComPtr<IWICBitmapScaler> scaler;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes), size)) ||
      FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)) ||
      FAILED(factory->CreateBitmapScaler(&scaler)) ||
      FAILED(scaler->Initialize(converter.Get(), static_cast<UINT>(width),
                                static_cast<UINT>(height), WICBitmapInterpolationModeFant))) {
    return image;
  }
  std::vector<uint32_t> bgra(static_cast<size_t>(width) * static_cast<size_t>(height));
  const UINT stride = static_cast<UINT>(width) * 4;
  if (FAILED(scaler->CopyPixels(nullptr, stride, stride * static_cast<UINT>(height),
                                reinterpret_cast<BYTE*>(bgra.data())))) {
    return image;
  }
  // The transparent index shows the white of the picture box behind it.
  for (uint32_t& p : bgra) {
    const uint32_t a = p >> 24;
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      const uint32_t c = (p >> shift) & 0xFF;
      out |= ((c * a + 255 * (255 - a) + 127) / 255) << shift;
    }
    p = out;
  }
  image.width = width;
  image.height = height;
  image.pixels = std::move(bgra);
  return image;
}

}  // namespace

const BackgroundImage& PopupBackground(int dpiX, int dpiY) {
  // One user-interface thread: the cache needs no lock.
  static std::map<std::pair<int, int>, BackgroundImage> cache;
  const std::pair<int, int> size{Scaled(kDesignWidth, dpiX), Scaled(kDesignHeight, dpiY)};
  auto it = cache.find(size);
  if (it == cache.end()) it = cache.emplace(size, Decode(size.first, size.second)).first;
  return it->second;
}

BITMAPINFO TopDownBitmapInfo(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

void DrawBackground(HDC dc, const BackgroundImage& image, int x, int y) {
  if (image.pixels.empty()) return;
  const BITMAPINFO info = TopDownBitmapInfo(image.width, image.height);
  StretchDIBits(dc, x, y, image.width, image.height, 0, 0, image.width, image.height,
                image.pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

UniqueIcon LoadEnvelopeIcon(int size) {
  return UniqueIcon(
      static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_POPUP_ENVELOPE),
                                    IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

namespace {

RECT RectOf(const PixelBox& box) { return RECT{box.left, box.top, box.right, box.bottom}; }

}  // namespace

void PopupPicture::LayOut(const PopupBoxes& boxes, int dpiX, int dpiY) {
  boxes_ = {RectOf(boxes.picture1), RectOf(boxes.note), RectOf(boxes.name), RectOf(boxes.desc)};

  // 9.75 points at the screen's real vertical dpi, rounded to whole pixels.
  font_.reset(CreateFontW(-ToInt32(kLabelFontPoints * dpiY / 72.0), 0, 0, 0, FW_BOLD, FALSE, FALSE,
                          FALSE, HANGEUL_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                          DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"돋움"));
  if (!font_) Raise(kErrInvalidPropertyValue);
  background_ = &PopupBackground(dpiX, dpiY);
}

void PopupPicture::Release() noexcept {
  font_.reset();
  envelope_.reset();
  canvasDc_.reset();
  canvas_.reset();
}

void PopupPicture::DrawNewRows(HWND window, int width, int height) {
  const bool visible = IsWindowVisible(window) != FALSE;
  // A bordered picture is drawn whole at every step: its border follows the window's
  // edges, which every step moves.
  const int from = visible && !look_.frame ? std::min(drawnHeight_, height) : 0;
  drawnHeight_ = from;
  if (!visible || width <= 0 || height <= from) return;
  TimedWork timed(Work::kDraw);
  if (!composed_) Compose();
  WindowDc dc(window, DCX_CACHE);
  if (!dc) return;
  BitBlt(dc.get(), 0, from, width, height - from, canvasDc_.get(), 0, from, SRCCOPY);
  DrawFrame(dc.get(), width, height);
  drawnHeight_ = height;
}

void PopupPicture::Redraw(HWND window) {
  RECT r{};
  if (!GetClientRect(window, &r)) return;
  drawnHeight_ = 0;
  DrawNewRows(window, r.right, r.bottom);
}

void PopupPicture::Paint(HWND window) {
  PaintDc dc(window);
  if (!dc.get()) return;
  if (!composed_) Compose();
  const RECT& r = dc.paint().rcPaint;
  BitBlt(dc.get(), r.left, r.top, r.right - r.left, r.bottom - r.top, canvasDc_.get(), r.left,
         r.top, SRCCOPY);
  RECT client{};
  if (look_.frame && GetClientRect(window, &client))
    DrawFrame(dc.get(), client.right, client.bottom);
}

void PopupPicture::DrawFrame(HDC dc, int width, int height) const {
  if (!look_.frame) return;
  UniqueBrush brush(CreateSolidBrush(*look_.frame));
  const RECT edges{0, 0, width, height};
  if (brush) FrameRect(dc, &edges, brush.get());
}

void PopupPicture::Compose() {
  const RECT& box = boxes_.picture1;
  if (!canvasDc_) {
    // A memory DC like the screen's, and a DIB section that needs no DC: neither
    // takes a screen DC of its own.
    canvasDc_.reset(CreateCompatibleDC(nullptr));
    // A DIB section rather than a device bitmap: its memory is mapped for it alone
    // and goes back to the system with the popup, where a burst's worth of device
    // bitmaps would stay in the process heap after the popups have gone.
    const BITMAPINFO info = TopDownBitmapInfo(box.right, box.bottom);
    void* bits = nullptr;
    canvas_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!canvasDc_ || !canvas_) Raise(kErrInvalidPropertyValue);
    SelectObject(canvasDc_.get(), canvas_.get());
  }
  HDC dc = canvasDc_.get();
  if (look_.background) {
    UniqueBrush brush(CreateSolidBrush(*look_.background));
    FillRect(dc, &box, brush ? brush.get() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  } else {
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (background_) DrawBackground(dc, *background_, 0, 0);
  }
  HGDIOBJ oldFont = SelectObject(dc, font_.get());
  SetBkMode(dc, TRANSPARENT);
  for (auto [label, text, color] : {std::tuple{&boxes_.name, &look_.nameText, look_.nameColor},
                                    std::tuple{&boxes_.desc, &look_.descText, look_.descColor}}) {
    // A label shows no more of its text than fits in its own box.
    RECT r = *label;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    SetTextColor(dc, color);
    DrawTextW(dc, WidePtr(*text), static_cast<int>(text->size()), &r,
              DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    RestoreDC(dc, saved);
  }
  SelectObject(dc, oldFont);
  if (look_.noteVisible) {
    const RECT& note = boxes_.note;
    // Loaded only by a popup that shows it.
    if (!envelope_) envelope_ = LoadEnvelopeIcon(note.right - note.left);
    UniqueBrush brush(CreateSolidBrush(look_.noteBackground));
    FillRect(dc, &note, brush ? brush.get() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (envelope_)
      DrawIconEx(dc, note.left, note.top, envelope_.get(), note.right - note.left,
                 note.bottom - note.top, 0, nullptr, DI_NORMAL);
  }
  composed_ = true;
}

}  // namespace tindra::win32
