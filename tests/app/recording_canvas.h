#pragma once
// A canvas that records every call, with simple text metrics: each
// character is half the font height wide, a line is 5/4 of it high.
#include <string>
#include <vector>

#include "app/canvas.h"
#include "app/picture.h"

struct CanvasOp {
  enum Kind { kFill, kFrame, kBlit, kText, kTextIn } kind;
  Rect rect;            // fill, frame, blit area, text_in box
  Rgb colour;
  const Picture* picture = nullptr;
  int32_t x = 0, y = 0;  // text
  HAlign h = HAlign::kLeft;
  VAlign v = VAlign::kTop;
  std::string text;
  FontSpec font;        // font current at a text call
};

class RecordingCanvas final : public Canvas {
 public:
  std::vector<CanvasOp> ops;
  FontSpec font;

  void fill(const Rect& r, Rgb c) override { ops.push_back({CanvasOp::kFill, r, c}); }
  void frame(const Rect& r, Rgb c) override { ops.push_back({CanvasOp::kFrame, r, c}); }
  void blit(const Picture& p, const Rect& area) override { ops.push_back({CanvasOp::kBlit, area, {}, &p}); }
  void set_font(const FontSpec& f) override { font = f; }
  TextSize text_extent(const std::string& t) override { return extent(font, t); }
  void text(int32_t x, int32_t y, HAlign h, VAlign v, Rgb c, const std::string& t) override {
    ops.push_back({CanvasOp::kText, {}, c, nullptr, x, y, h, v, t, font});
  }
  void text_in(const Rect& box, HAlign h, VAlign v, Rgb c, const std::string& t) override {
    ops.push_back({CanvasOp::kTextIn, box, c, nullptr, 0, 0, h, v, t, font});
  }

  static TextSize extent(const FontSpec& f, const std::string& t) {
    return TextSize{static_cast<int32_t>(t.size()) * (f.height / 2), f.height + f.height / 4};
  }
  // The text call that drew `t`; null when none did.
  const CanvasOp* find_text(const std::string& t) const {
    for (const CanvasOp& op : ops)
      if ((op.kind == CanvasOp::kText || op.kind == CanvasOp::kTextIn) && op.text == t) return &op;
    return nullptr;
  }
};
