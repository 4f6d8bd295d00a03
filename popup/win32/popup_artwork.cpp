#include "popup/win32/popup_artwork.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <map>
#include <utility>

#include "common/win32/com.h"
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

}  // namespace tindra::win32
