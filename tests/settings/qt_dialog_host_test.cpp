// The Qt dialog host with the real settings template, on Qt's offscreen
// platform: the controls the class atoms name, their places in dialog units,
// key events in a shortcut capture, a user's choice in a list, link clicks.
#include "dialogs/qt/qt_dialog_host.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "settings/config_store.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/settings_ids.h"
#include "dialogs/update_check.h"

namespace {
std::string hex_shortcut(uint32_t v) { return v ? "key " + std::to_string(v) : "[none]"; }

class QtDialogHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "qt_dialog_host_test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    install_qt_dialog_host();
  }
  void SetUp() override {
    SettingsDialogServices s;
    s.format_shortcut = hex_shortcut;
    set_settings_dialog_services(s);
    config_set_defaults(&config);
    config.OutputFolder = "/videos";
  }
  void TearDown() override { set_settings_dialog_services(SettingsDialogServices{}); }

  // Opens Settings and runs `script` inside its modal loop.
  int run(std::function<void(QWidget*)> script) {
    QTimer::singleShot(0, [script] {
      QWidget* dialog = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle().startsWith("Frelvanta 3.3.0")) dialog = w;
      if (!dialog) {
        ADD_FAILURE() << "no modal dialog";
        return;
      }
      script(dialog);
    });
    return show_settings_dialog(&config);
  }
  template <class T>
  static T* control(QWidget* dialog, int id) {
    T* w = dialog->findChild<T*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
  }

  static inline QApplication* app_ = nullptr;
  Config config;
};
}  // namespace

TEST_F(QtDialogHost, ControlsAndPlaces) {
  run([](QWidget* d) {
    EXPECT_TRUE(d->windowTitle().startsWith("Frelvanta 3.3.0, "));
    // Dialog base units of the dialog's font, as the classic dialog manager
    // computes them.
    QFontMetrics fm(d->font());
    int ux = (fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    int uy = fm.height();
    EXPECT_EQ(d->width(), 286 * ux / 4);
    EXPECT_EQ(d->height(), 430 * uy / 8);
    // A check box too narrow for its label with this font takes the room
    // from the control to its right, which keeps its right edge.
    QComboBox* gpu = control<QComboBox>(d, ID_HARDWARE_PREFERENCE);
    const QRect gpu_place(62 * ux / 4, 70 * uy / 8, 58 * ux / 4, 14 * uy / 8);
    EXPECT_EQ(gpu->geometry().right(), gpu_place.right());
    EXPECT_EQ(gpu->geometry().top(), gpu_place.top());
    EXPECT_GE(gpu->geometry().width(), gpu_place.width() / 2);
    for (QCheckBox* box : d->findChildren<QCheckBox*>()) {
      const int id = box->objectName().mid(2).toInt();
      if (id == ID_HARDWARE_ENCODER || id == ID_LIMIT_LENGTH || id == ID_LIMIT_SIZE)  // the boxes with a neighbour
        EXPECT_GE(box->width(), box->sizeHint().width()) << box->text().toStdString() << " is cut";
      for (QWidget* other : d->findChildren<QWidget*>())
        if (other->parent() == d && other != box && !qobject_cast<QGroupBox*>(other))
          EXPECT_FALSE(other->geometry().intersects(box->geometry()))
              << box->text().toStdString() << " overlaps " << other->objectName().toStdString();
    }
    QLineEdit* delay = control<QLineEdit>(d, ID_START_DELAY);
    EXPECT_EQ(delay->geometry(), QRect(88 * ux / 4, 84 * uy / 8, 32 * ux / 4, 12 * uy / 8));
    EXPECT_EQ(delay->alignment() & Qt::AlignRight, Qt::AlignRight);
    EXPECT_NE(delay->validator(), nullptr) << "numbers only";
    EXPECT_EQ(control<QLineEdit>(d, ID_OUTPUT_FOLDER)->validator(), nullptr);
    EXPECT_EQ(control<QCheckBox>(d, ID_MOUSE_CURSOR)->text(), "&Mouse Cursor");
    QPushButton* ok = control<QPushButton>(d, ID_OK);
    EXPECT_TRUE(ok->isDefault());
    QLabel* link = control<QLabel>(d, ID_UPDATE_LINK);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 102, 204));
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link->alignment() & Qt::AlignRight, Qt::AlignRight);
    int labels = 0;
    for (QLabel* l : d->findChildren<QLabel*>()) {
      if (l->text() == "Start Delay (sec)") ++labels;
      EXPECT_FALSE(l->text().contains('&')) << l->text().toStdString();
    }
    EXPECT_EQ(labels, 1);
    EXPECT_EQ(control<QLineEdit>(d, ID_OUTPUT_FOLDER)->text(), "/videos");
    QTest::mouseClick(control<QPushButton>(d, ID_CANCEL), Qt::LeftButton);
  });
}

TEST_F(QtDialogHost, ShortcutCaptureWithKeyEventsAndListChoice) {
  const uint32_t before = config.ShortcutRect;
  int result = run([&](QWidget* d) {
    QPushButton* window = control<QPushButton>(d, ID_SHORTCUT_WINDOW);
    QTest::mouseClick(window, Qt::LeftButton);
    EXPECT_EQ(window->text(), "Press new shortcut, [ESC] to cancel, [BACKSPACE] to disable");
    QTest::keyPress(window, Qt::Key_Shift, Qt::ShiftModifier);
    QTest::keyRelease(window, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(window->text(), "Press new shortcut, [ESC] to cancel, [BACKSPACE] to disable");
    QTest::keyPress(window, Qt::Key_F9, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(window, Qt::Key_F9, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(window->text().toStdString(), hex_shortcut(0x78 | SHORTCUT_CTRL | SHORTCUT_SHIFT));

    // Esc during a capture keeps the value and leaves the dialog open.
    QPushButton* rect = control<QPushButton>(d, ID_SHORTCUT_RECT);
    QTest::mouseClick(rect, Qt::LeftButton);
    QTest::keyClick(rect, Qt::Key_Escape);
    EXPECT_EQ(rect->text().toStdString(), hex_shortcut(before));
    EXPECT_TRUE(d->isVisible());

    QComboBox* codec = control<QComboBox>(d, ID_VIDEO_CODEC);
    codec->setCurrentIndex(1);
    emit codec->activated(1);  // as a user's choice in the list sends it
    QComboBox* profile = control<QComboBox>(d, ID_VIDEO_PROFILE);
    ASSERT_EQ(profile->count(), 2);
    EXPECT_EQ(profile->currentText(), "Main10 (10-bit)");
    QTest::mouseClick(control<QPushButton>(d, ID_OK), Qt::LeftButton);
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(config.ShortcutWindow, 0x78 | SHORTCUT_CTRL | SHORTCUT_SHIFT);
  EXPECT_EQ(config.ShortcutRect, before);
  EXPECT_EQ(config.VideoCodec, VIDEO_CODEC_H265);
  EXPECT_EQ(config.VideoProfile, VIDEO_PROFILE_MAIN10);
}

TEST_F(QtDialogHost, LinkClickWithoutUpdateServerSaysSo) {
  UpdateEndpoint none;
  set_update_endpoint_for_tests(&none);
  QString shown;
  run([&](QWidget* d) {
    // The message box is modal too: read and close it from the next turn.
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
          shown = box->text();
          box->accept();
        }
      }
    });
    QTest::mouseClick(control<QLabel>(d, ID_UPDATE_LINK), Qt::LeftButton);
    QTest::keyClick(d, Qt::Key_Escape);  // Esc is Cancel
  });
  set_update_endpoint_for_tests(nullptr);
  EXPECT_TRUE(shown.contains("no update server")) << shown.toStdString();
}
