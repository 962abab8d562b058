#include "app/qt/qt_canvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>

#include "app/picture.h"

namespace {
QColor colour(Rgb c) { return QColor(c.r, c.g, c.b); }
QRect qrect(const Rect& r) { return QRect(r.left, r.top, r.width(), r.height()); }
}  // namespace

void QtCanvas::fill(const Rect& r, Rgb c) {
  if (!r.empty()) p_->fillRect(qrect(r), colour(c));
}

void QtCanvas::frame(const Rect& r, Rgb c) {
  if (r.empty()) return;
  const QColor q = colour(c);
  p_->fillRect(QRect(r.left, r.top, r.width(), 1), q);
  p_->fillRect(QRect(r.left, r.bottom - 1, r.width(), 1), q);
  p_->fillRect(QRect(r.left, r.top, 1, r.height()), q);
  p_->fillRect(QRect(r.right - 1, r.top, 1, r.height()), q);
}

void QtCanvas::blit(const Picture& picture, const Rect& area) {
  if (picture.empty() || area.empty()) return;
  // A view of the pixels, no copy: B, G, R, A bytes are RGB32 on this byte order.
  const QImage image(picture.pixels.data(), picture.width, picture.height, picture.width * 4, QImage::Format_RGB32);
  const QRect r = qrect(area).intersected(image.rect());
  if (!r.isEmpty()) p_->drawImage(r.topLeft(), image, r);
}

void QtCanvas::set_font(const FontSpec& font) {
  QFont f(QString::fromStdString(font.face));
  f.setPixelSize(font.height > 0 ? font.height : 1);
  f.setWeight(static_cast<QFont::Weight>(font.weight));
  f.setStyleStrategy(QFont::PreferAntialias);
  p_->setFont(f);
}

TextSize QtCanvas::text_extent(const std::string& text) {
  const QFontMetrics fm = p_->fontMetrics();
  return TextSize{fm.horizontalAdvance(QString::fromStdString(text)), fm.height()};
}

void QtCanvas::text(int32_t x, int32_t y, HAlign h, VAlign v, Rgb c, const std::string& text) {
  const QString s = QString::fromStdString(text);
  const QFontMetrics fm = p_->fontMetrics();
  const int w = fm.horizontalAdvance(s);
  int left = h == HAlign::kLeft ? x : h == HAlign::kRight ? x - w : x - w / 2;
  int top = v == VAlign::kTop ? y : v == VAlign::kBottom ? y - fm.height() : y - fm.height() / 2;
  p_->setPen(colour(c));
  p_->drawText(left, top + fm.ascent(), s);
}

void QtCanvas::text_in(const Rect& box, HAlign h, VAlign v, Rgb c, const std::string& text) {
  int flags = Qt::TextSingleLine;
  flags |= h == HAlign::kLeft ? Qt::AlignLeft : h == HAlign::kRight ? Qt::AlignRight : Qt::AlignHCenter;
  flags |= v == VAlign::kTop ? Qt::AlignTop : v == VAlign::kBottom ? Qt::AlignBottom : Qt::AlignVCenter;
  p_->setPen(colour(c));
  p_->save();
  p_->setClipRect(qrect(box), Qt::IntersectClip);
  p_->drawText(qrect(box), flags, QString::fromStdString(text));
  p_->restore();
}
