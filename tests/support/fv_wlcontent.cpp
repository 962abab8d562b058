// Moving test content for recordings on a Wayland desktop: a native window
// (Qt on its Wayland platform) repainting at the compositor's pace.
//
//   fv_wlcontent
//
// The picture matches fv_testcontent's: a dark background, a bar moving 8
// pixels per frame, and along the top edge the frame number as 16 blocks of
// 32x32 pixels (white = 1, most significant bit first). Besides, a square
// of a known colour (kMarkColour) at kMark, in window coordinates. Prints
// "ready" once the first picture is on screen; runs until killed.
#include <QBackingStore>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>
#include <cstdio>

namespace {
const QRect kMark(640, 240, 256, 256);
const QColor kMarkColour(220, 40, 40);

class Content final : public QRasterWindow {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(16, 16, 16));
    for (int bit = 0; bit < 16; ++bit) {
      const bool one = (frame_ >> (15 - bit)) & 1;
      p.fillRect(QRect(32 * bit, 0, 32, 32), one ? Qt::white : Qt::black);
    }
    const int span = width() > 64 ? width() - 64 : 1;
    p.fillRect(QRect((frame_ * 8) % span, 96, 64, 96), QColor(120, 200, 120));
    p.fillRect(kMark, kMarkColour);
    ++frame_;
    if (!announced_) {
      announced_ = true;
      // After the compositor had a moment to show it.
      QTimer::singleShot(500, [] {
        std::printf("ready\n");
        std::fflush(stdout);
      });
    }
    requestUpdate();
  }

 private:
  int frame_ = 0;
  bool announced_ = false;
};
}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  Content w;
  w.setTitle(QStringLiteral("fv_wlcontent"));
  w.resize(1280, 720);
  w.show();
  return app.exec();
}
