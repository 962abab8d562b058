#include "app/qt/tray_icons_qt.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <cstring>
#include <vector>

#include "app/paused_icon.h"

// Resources of a static library are registered by name, outside any namespace.
static void init_tray_resources() { Q_INIT_RESOURCE(tray); }

namespace {
// Sizes trays ask for; each is drawn for its own size, so the paused bars
// follow the size rule instead of being scaled.
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64};

QImage render(const char* resource, int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QSvgRenderer svg(QString::fromLatin1(resource));
  QPainter p(&image);
  svg.render(&p);
  return image;
}

QImage paused_from(const QImage& recording) {
  const int w = recording.width(), h = recording.height();
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    std::memcpy(&pixels[static_cast<size_t>(y) * w], recording.constScanLine(y), static_cast<size_t>(w) * 4);
  make_paused_icon(pixels, w, h);
  QImage out(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y)
    std::memcpy(out.scanLine(y), &pixels[static_cast<size_t>(y) * w], static_cast<size_t>(w) * 4);
  return out;
}

QIcon build(TrayIconState state) {
  init_tray_resources();
  QIcon icon;
  for (int size : kSizes) {
    if (state == TrayIconState::kIdle) {
      icon.addPixmap(QPixmap::fromImage(render(":/icons/tray/idle.svg", size)));
    } else {
      QImage rec = render(":/icons/tray/recording.svg", size);
      icon.addPixmap(QPixmap::fromImage(state == TrayIconState::kPaused ? paused_from(rec) : rec));
    }
  }
  return icon;
}
}  // namespace

QIcon tray_icon_picture(TrayIconState state) {
  static const QIcon idle = build(TrayIconState::kIdle);
  static const QIcon recording = build(TrayIconState::kRecording);
  static const QIcon paused = build(TrayIconState::kPaused);
  switch (state) {
    case TrayIconState::kIdle:
      return idle;
    case TrayIconState::kPaused:
      return paused;
    default:
      return recording;
  }
}
