// Reads a meter control as a person would see it: which share of the bar is filled and which
// percentage its text spells. Pictures come from painting into a memory bitmap or from the
// meter's window as it stands on the screen.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/meter.h"

struct MeterPicture {
  int width = 0, height = 0;
  std::vector<COLORREF> pixels;  // top row first
  COLORREF At(int x, int y) const { return pixels[y * width + x]; }
};

// A 32-bit top-down DIB selected into a memory DC, released on destruction.
class MemoryBitmap {
 public:
  MemoryBitmap(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bitmap_ =
        CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~MemoryBitmap() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  MemoryBitmap(const MemoryBitmap&) = delete;
  MemoryBitmap& operator=(const MemoryBitmap&) = delete;
  HDC dc() const { return dc_; }
  void Fill(COLORREF colour) {
    for (int i = 0; i < width_ * height_; ++i) bits_[i] = ToBits(colour);
  }
  MeterPicture Picture() const {
    GdiFlush();
    MeterPicture picture{width_, height_, {}};
    for (int i = 0; i < width_ * height_; ++i)
      picture.pixels.push_back(RGB(bits_[i] >> 16 & 0xFF, bits_[i] >> 8 & 0xFF, bits_[i] & 0xFF));
    return picture;
  }

 private:
  static uint32_t ToBits(COLORREF c) {
    return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
  }
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  uint32_t* bits_ = nullptr;
};

inline RECT ClientRect(HWND window) {
  RECT r;
  GetClientRect(window, &r);
  return r;
}

// What PaintMeter draws for `meter` into a fresh bitmap the size of its client area.
inline MeterPicture PaintIntoBitmap(HWND meter) {
  RECT client = ClientRect(meter);
  MemoryBitmap bitmap(client.right, client.bottom);
  PaintMeter(meter, bitmap.dc(), client);
  return bitmap.Picture();
}

// What the meter's window shows right now.
inline MeterPicture CaptureMeterWindow(HWND meter) {
  RECT client = ClientRect(meter);
  MemoryBitmap bitmap(client.right, client.bottom);
  HDC window = GetDC(meter);
  BitBlt(bitmap.dc(), 0, 0, client.right, client.bottom, window, 0, 0, SRCCOPY);
  ReleaseDC(meter, window);
  return bitmap.Picture();
}

struct MeterReading {
  bool meterColours = false;  // every pixel is a blend of the highlight and highlight-text colours
  int filledColumns = 0;      // highlight-coloured columns from the left, on the text-free top row
  int inkLeft = 0;            // text pixels inside the filled part
  int inkRight = 0;           // text pixels inside the rest
  int inkCentreX2 = 0;        // twice the horizontal centre of the text's bounding box
  std::string text;           // the percentage the text spells, "" when none matches
};

namespace meter_reading {

inline bool Between(int value, int a, int b) {
  return value >= std::min(a, b) && value <= std::max(a, b);
}

inline bool IsBlend(COLORREF c, COLORREF a, COLORREF b) {
  return Between(GetRValue(c), GetRValue(a), GetRValue(b)) &&
         Between(GetGValue(c), GetGValue(a), GetGValue(b)) &&
         Between(GetBValue(c), GetBValue(a), GetBValue(b));
}

struct Box {
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
  void Add(int x, int y) {
    left = std::min(left, x), right = std::max(right, x);
    top = std::min(top, y), bottom = std::max(bottom, y);
  }
  bool empty() const { return right < 0; }
};

// `text` written with a device context's default font, opaque, in `ink` on `paper`, with a
// margin of `margin` pixels around a box of `width` x `height`.
inline MeterPicture Written(const std::string& text, int width, int height, int margin,
                            COLORREF ink, COLORREF paper) {
  MemoryBitmap bitmap(width + 2 * margin, height + 2 * margin);
  bitmap.Fill(paper);
  SetTextColor(bitmap.dc(), ink);
  SetBkColor(bitmap.dc(), paper);
  TextOutA(bitmap.dc(), margin, margin, text.c_str(), static_cast<int>(text.size()));
  return bitmap.Picture();
}

}  // namespace meter_reading

// Reads the picture as a person would: the filled part is the highlight colour with the text in
// the highlight-text colour, the rest the other way round. The text is recognised by writing
// each candidate percentage in the same two colour pairs and finding one that matches the
// picture pixel for pixel (fonts may be antialiased, so only an exact match counts).
inline MeterReading ReadMeter(const MeterPicture& picture) {
  using namespace meter_reading;
  const COLORREF fill = GetSysColor(COLOR_HIGHLIGHT), light = GetSysColor(COLOR_HIGHLIGHTTEXT);
  MeterReading reading;
  reading.meterColours = std::all_of(picture.pixels.begin(), picture.pixels.end(),
                                     [&](COLORREF c) { return IsBlend(c, fill, light); });
  while (reading.filledColumns < picture.width && picture.At(reading.filledColumns, 0) == fill)
    ++reading.filledColumns;
  const int filled = reading.filledColumns;
  auto paperAt = [&](int x) { return x < filled ? fill : light; };
  Box shown;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x)
      if (picture.At(x, y) != paperAt(x)) {
        (x < filled ? reading.inkLeft : reading.inkRight)++;
        shown.Add(x, y);
      }
  if (shown.empty()) return reading;
  reading.inkCentreX2 = shown.left + shown.right;

  const int margin = 8;
  for (int percent = 0; percent <= 200 && reading.text.empty(); ++percent) {
    std::string candidate = std::to_string(percent) + "%";
    MeterPicture onFill = Written(candidate, picture.width, picture.height, margin, light, fill);
    MeterPicture onLight = Written(candidate, picture.width, picture.height, margin, fill, light);
    Box written;
    for (int y = 0; y < onFill.height; ++y)
      for (int x = 0; x < onFill.width; ++x)
        if (onFill.At(x, y) != fill || onLight.At(x, y) != light) written.Add(x, y);
    // The faintest edge pixels may show in one colour pair and not in the other, so the boxes
    // are lined up within two pixels.
    for (int dy = -2; dy <= 2 && reading.text.empty(); ++dy)
      for (int dx = -2; dx <= 2 && reading.text.empty(); ++dx) {
        bool same = true;
        for (int y = 0; y < picture.height && same; ++y)
          for (int x = 0; x < picture.width && same; ++x) {
            int wx = x - shown.left + written.left + dx, wy = y - shown.top + written.top + dy;
            bool inside = wx >= 0 && wy >= 0 && wx < onFill.width && wy < onFill.height;
            COLORREF expected = !inside ? paperAt(x) : (x < filled ? onFill : onLight).At(wx, wy);
            same = picture.At(x, y) == expected;
          }
        if (same) reading.text = candidate;
      }
  }
  return reading;
}
