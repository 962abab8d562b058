#include "dialogs/qt/qt_dialog_host.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QUrl>
#include <map>
#include <mutex>

#include "core/ui_service.h"
#include "dialogs/dialog_host.h"
#include "dialogs/dialog_template.h"
#include "dialogs/qt/qt_virtual_keys.h"

namespace {
QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string ss(const QString& s) { return s.toUtf8().toStdString(); }

// A static without SS_NOPREFIX treats "&" as a mnemonic mark; labels here
// show the text without it ("&&" stands for one "&").
QString strip_prefix(const QString& s) {
  QString out;
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] == '&' && i + 1 < s.size()) ++i;
    else if (s[i] == '&') continue;
    out.append(s[i]);
  }
  return out;
}

class QtDialog;

class QtMailbox : public DialogMailbox {
 public:
  explicit QtMailbox(QtDialog* dialog) : dialog_(dialog) {}
  bool post(uint32_t message, std::shared_ptr<void> payload) override;
  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    dialog_ = nullptr;
  }

 private:
  std::mutex mutex_;
  QtDialog* dialog_;
};

struct Control {
  uint16_t atom = 0;
  uint32_t style = 0;
  QWidget* widget = nullptr;
};

class QtDialog : public QDialog, public DialogHost {
 public:
  QtDialog(const DialogLayout& layout, DialogProc* proc, QWidget* parent)
      : QDialog(parent), proc_(proc), mailbox_(std::make_shared<QtMailbox>(this)) {
    setWindowTitle(qs(layout.title));
    QFont font(qs(layout.face));
    // Without the face itself, prefer faces with its proportions over the
    // wide default sans face, so that texts fit the boxes made for them.
    if (!QFontInfo(font).exactMatch())
      font.setFamilies({qs(layout.face), QStringLiteral("Noto Sans"), QStringLiteral("Liberation Sans"),
                        QStringLiteral("Arial"), QStringLiteral("Nimbus Sans")});
    font.setPointSize(layout.point_size ? layout.point_size : 9);
    setFont(font);
    QFontMetrics fm(font);
    // Dialog base units of the font: the average width of the Latin
    // letters and the line height, as the classic dialog manager takes them.
    int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    unit_x_ = (width / 26 + 1) / 2;
    unit_y_ = fm.height();
    setFixedSize(px_x(layout.width), px_y(layout.height));
    for (const DialogItem& item : layout.items) create_control(item);
    fit_check_boxes();
  }

  ~QtDialog() override { mailbox_->close(); }

  int run() {
    proc_->on_init(*this);
    if (!ended_) {
      if (parentWidget() == nullptr && screen()) {
        QRect area = screen()->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
      }
      exec();
    }
    mailbox_->close();
    proc_->on_destroy(*this);
    return result_;
  }

  void deliver(uint32_t message, std::shared_ptr<void> payload) {
    if (!ended_) proc_->on_message(*this, message, std::move(payload));
  }

  // DialogHost.
  std::string item_text(int id) override {
    QWidget* w = widget(id);
    if (auto* e = qobject_cast<QLineEdit*>(w)) return ss(e->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return ss(b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) return ss(l->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) return ss(g->title());
    if (auto* c = qobject_cast<QComboBox*>(w)) return ss(c->currentText());
    return {};
  }
  void set_item_text(int id, std::string_view text) override {
    QWidget* w = widget(id);
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(qs(text));
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(qs(text));
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(label_text(controls_[id].style, qs(text)));
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(qs(text));
  }
  bool is_checked(int id) override {
    auto* b = qobject_cast<QAbstractButton*>(widget(id));
    return b && b->isChecked();
  }
  void set_checked(int id, bool checked) override {
    if (auto* b = qobject_cast<QAbstractButton*>(widget(id)); b && b->isCheckable()) b->setChecked(checked);
  }
  void enable_item(int id, bool enabled) override {
    if (QWidget* w = widget(id)) w->setEnabled(enabled);
  }
  bool item_enabled(int id) override {
    QWidget* w = widget(id);
    return w && w->isEnabled();
  }
  void list_reset(int id) override {
    if (auto* c = combo(id)) c->clear();
    if (auto* l = list(id)) l->clear();
  }
  int list_add(int id, std::string_view text, std::string data) override {
    QByteArray bytes(data.data(), static_cast<qsizetype>(data.size()));
    if (auto* c = combo(id)) {
      QSignalBlocker block(c);
      c->addItem(qs(text), bytes);
      if (c->count() == 1) c->setCurrentIndex(-1);  // a new list has no selection until one is made
      return c->count() - 1;
    }
    if (auto* l = list(id)) {
      QSignalBlocker block(l);
      auto* item = new QListWidgetItem(qs(text), l);
      item->setData(Qt::UserRole, bytes);
      return l->count() - 1;
    }
    return -1;
  }
  int list_count(int id) override {
    if (auto* c = combo(id)) return c->count();
    if (auto* l = list(id)) return l->count();
    return 0;
  }
  int list_selection(int id) override {
    if (auto* c = combo(id)) return c->currentIndex();
    if (auto* l = list(id)) return l->currentRow();
    return -1;
  }
  void list_select(int id, int index) override {
    if (auto* c = combo(id)) {
      QSignalBlocker block(c);
      c->setCurrentIndex(index >= 0 && index < c->count() ? index : -1);
    }
    if (auto* l = list(id)) {
      QSignalBlocker block(l);
      l->setCurrentRow(index >= 0 && index < l->count() ? index : -1);
    }
  }
  std::string list_text(int id, int index) override {
    if (auto* c = combo(id)) return ss(c->itemText(index));
    if (auto* l = list(id); l && l->item(index)) return ss(l->item(index)->text());
    return {};
  }
  std::string list_data(int id, int index) override {
    if (auto* c = combo(id)) return c->itemData(index).toByteArray().toStdString();
    if (auto* l = list(id); l && l->item(index)) return l->item(index)->data(Qt::UserRole).toByteArray().toStdString();
    return {};
  }
  void begin_key_capture(int id) override {
    if (QWidget* w = widget(id)) {
      capturing_ = id;
      w->installEventFilter(this);
      w->setFocus();
      w->grabKeyboard();
    }
  }
  void end_key_capture(int id) override {
    if (QWidget* w = widget(id)) {
      w->releaseKeyboard();
      w->removeEventFilter(this);
    }
    if (capturing_ == id) capturing_ = 0;
  }
  void end_dialog(int result) override {
    result_ = result;
    ended_ = true;
    done(result);
  }
  void bring_to_front() override {
    show();
    raise();
    activateWindow();
  }
  std::shared_ptr<DialogMailbox> mailbox() override { return mailbox_; }
  int message_box(const std::string& text, const std::string& caption, uint32_t type) override {
    QMessageBox box(this);
    box.setWindowTitle(qs(caption));
    box.setText(qs(text));
    uint32_t icon = type & 0xF0;
    box.setIcon(icon == MB_ICONERROR         ? QMessageBox::Critical
                : icon == MB_ICONWARNING     ? QMessageBox::Warning
                : icon == MB_ICONINFORMATION ? QMessageBox::Information
                                             : QMessageBox::NoIcon);
    if ((type & 0xF) == MB_YESNO) {
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton((type & MB_DEFBUTTON2) ? QMessageBox::No : QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::No);
      return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
  }
  bool pick_folder(std::string* path) override {
    QString chosen = QFileDialog::getExistingDirectory(this, QString(), qs(*path), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    *path = ss(chosen);
    return true;
  }
  bool copy_to_clipboard(const std::string& text) override {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return false;
    clipboard->setText(qs(text));
    return clipboard->text() == qs(text);
  }
  void open_url(const std::string& url) override { QDesktopServices::openUrl(QUrl(qs(url))); }

 protected:
  // Esc and the close box.
  void reject() override { proc_->on_command(*this, IDCANCEL_COMMAND, BN_CLICKED); }

  bool eventFilter(QObject* object, QEvent* event) override {
    auto it = links_.find(object);
    if (it != links_.end() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && static_cast<QWidget*>(object)->isEnabled()) {
      proc_->on_command(*this, it->second, STN_CLICKED);
      return true;
    }
    if (capturing_ && object == widget(capturing_)) {
      switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
          event->accept();
          return true;  // presses are swallowed; the release decides
        case QEvent::KeyRelease: {
          auto* key = static_cast<QKeyEvent*>(event);
          if (key->isAutoRepeat()) return true;
          uint32_t vk = qt_key_to_virtual_key(key->key(), key->modifiers() & Qt::KeypadModifier);
          uint32_t held = qt_modifiers_to_shortcut_bits(static_cast<int>(key->modifiers()));
          if (vk == 0) return true;
          return proc_->on_key_up(*this, capturing_, vk, held);
        }
        default:
          break;
      }
    }
    return QDialog::eventFilter(object, event);
  }

 private:
  int px_x(int units) const { return units * unit_x_ / 4; }
  int px_y(int units) const { return units * unit_y_ / 8; }

  QWidget* widget(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.widget;
  }
  QComboBox* combo(int id) { return qobject_cast<QComboBox*>(widget(id)); }
  QListWidget* list(int id) { return qobject_cast<QListWidget*>(widget(id)); }

  static QString label_text(uint32_t style, const QString& text) {
    return (style & SS_NOPREFIX) ? text : strip_prefix(text);
  }

  void create_control(const DialogItem& item) {
    const int id = item.id;
    QWidget* w = nullptr;
    switch (item.atom) {
      case ATOM_BUTTON: {
        uint32_t type = item.style & BS_TYPEMASK;
        if (type == BS_GROUPBOX) {
          w = new QGroupBox(qs(item.text), this);
        } else if (type == BS_AUTOCHECKBOX) {
          auto* b = new QCheckBox(qs(item.text), this);
          connect(b, &QCheckBox::clicked, this, [this, id] { proc_->on_command(*this, id, BN_CLICKED); });
          w = b;
        } else {
          auto* b = new QPushButton(qs(item.text), this);
          b->setDefault(type == BS_DEFPUSHBUTTON);
          b->setAutoDefault(type == BS_DEFPUSHBUTTON);
          connect(b, &QPushButton::clicked, this, [this, id] { proc_->on_command(*this, id, BN_CLICKED); });
          w = b;
        }
        break;
      }
      case ATOM_EDIT: {
        auto* e = new QLineEdit(this);
        if (item.style & ES_NUMBER)
          e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        if (item.style & ES_RIGHT) e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        e->setFrame((item.style & WS_BORDER) != 0);
        e->setText(qs(item.text));
        w = e;
        break;
      }
      case ATOM_STATIC: {
        auto* l = new QLabel(label_text(item.style, qs(item.text)), this);
        Qt::Alignment align = (item.style & 0x3) == SS_CENTER  ? Qt::AlignHCenter
                              : (item.style & 0x3) == SS_RIGHT ? Qt::AlignRight
                                                               : Qt::AlignLeft;
        l->setAlignment(align | Qt::AlignTop);
        l->setWordWrap(true);
        l->setTextFormat(Qt::PlainText);
        if (proc_->is_link(id)) {
          QFont f = l->font();
          f.setUnderline(true);
          f.setWeight(QFont::Normal);
          l->setFont(f);
          QPalette p = l->palette();
          p.setColor(QPalette::WindowText, QColor(0x00, 0x66, 0xCC));
          l->setPalette(p);
          l->setCursor(Qt::PointingHandCursor);
        }
        if (item.style & SS_NOTIFY) {
          links_[l] = id;
          l->installEventFilter(this);
        }
        w = l;
        break;
      }
      case ATOM_LISTBOX: {
        auto* l = new QListWidget(this);
        if (item.style & LBS_NOTIFY) {
          connect(l, &QListWidget::currentRowChanged, this, [this, id] { proc_->on_command(*this, id, LBN_SELCHANGE); });
          connect(l, &QListWidget::itemDoubleClicked, this, [this, id] { proc_->on_command(*this, id, LBN_DBLCLK); });
        }
        w = l;
        break;
      }
      case ATOM_COMBOBOX: {
        auto* c = new QComboBox(this);
        // Only a choice the user makes is a selection change.
        connect(c, &QComboBox::activated, this, [this, id] { proc_->on_command(*this, id, CBN_SELCHANGE); });
        w = c;
        break;
      }
      default:
        return;  // a class this host does not know is left out
    }
    w->setObjectName(QStringLiteral("id%1").arg(id));
    w->setGeometry(px_x(item.x), px_y(item.y), px_x(item.width), px_y(item.height));
    if (!(item.style & WS_VISIBLE)) w->hide();
    if (item.style & WS_TABSTOP) w->setFocusPolicy(Qt::StrongFocus);
    if (id != kNoControlId) controls_[id] = Control{item.atom, item.style, w};
  }

  // Dialog units fit the text of the face the template names; with another
  // face a check box can be too narrow for its label (its indicator and
  // spacing do not scale with the font either). Such a box takes the room it
  // needs from the free space and the control to its right on the same row,
  // which keeps its right edge and at least half its width.
  void fit_check_boxes() {
    for (auto& [id, control] : controls_) {
      auto* box = qobject_cast<QCheckBox*>(control.widget);
      if (!box) continue;
      QRect r = box->geometry();
      const int missing = box->sizeHint().width() - r.width();
      if (missing <= 0) continue;
      // The row ends at the frame of the group the box is in.
      QRect row(r.left(), r.top(), width() - r.left(), r.height());
      for (QGroupBox* group : findChildren<QGroupBox*>())
        if (group->geometry().contains(r)) row.setRight(std::min(row.right(), group->geometry().right()));
      QWidget* right = nullptr;
      for (auto& [other_id, other] : controls_) {
        const QRect o = other.widget->geometry();
        if (other.widget == box || qobject_cast<QGroupBox*>(other.widget) || o.left() < r.right() ||
            o.right() > row.right() || o.bottom() < r.top() || o.top() > r.bottom())
          continue;
        if (!right || o.left() < right->geometry().left()) right = other.widget;
      }
      if (!right) continue;  // a box alone on its row has the row's width
      QRect o = right->geometry();
      const int gap = std::max(o.left() - r.right() - 1, 0);
      const int taken = std::clamp(missing - gap, 0, o.width() / 2);
      o.setLeft(o.left() + taken);
      right->setGeometry(o);
      r.setWidth(r.width() + std::min(missing, gap + taken));
      box->setGeometry(r);
    }
  }

  DialogProc* proc_;
  std::shared_ptr<QtMailbox> mailbox_;
  std::map<int, Control> controls_;
  std::map<QObject*, int> links_;
  int unit_x_ = 6, unit_y_ = 13;
  int result_ = 0;
  bool ended_ = false;
  int capturing_ = 0;
};

bool QtMailbox::post(uint32_t message, std::shared_ptr<void> payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!dialog_) return false;
  QtDialog* dialog = dialog_;
  // Queued to the dialog's thread; dropped (and the payload released) if the
  // dialog goes away first.
  return QMetaObject::invokeMethod(
      dialog, [dialog, message, payload] { dialog->deliver(message, payload); }, Qt::QueuedConnection);
}

int run_qt_dialog(const std::vector<uint8_t>& bytes, DialogProc* proc, DialogHost* owner) {
  DialogLayout layout;
  if (!qApp || !parse_dialog_template(bytes.data(), bytes.size(), &layout)) return -1;
  QWidget* parent = owner ? dynamic_cast<QtDialog*>(owner) : nullptr;
  QtDialog dialog(layout, proc, parent);
  return dialog.run();
}
}  // namespace

void install_qt_dialog_host() { set_dialog_runner(run_qt_dialog); }
