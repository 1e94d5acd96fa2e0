#include "platform/qt/QtAlertPresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <optional>
#include <vector>

namespace quillory::platform::qt {
namespace {

QString toQString(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

QMessageBox::Icon iconFor(AlertStyle style) {
  switch (style) {
    case AlertStyle::warning:
      return QMessageBox::Warning;
    case AlertStyle::informational:
      return QMessageBox::Information;
    case AlertStyle::critical:
      return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

// The button box places buttons by role; the first button accepts, the last
// (of two or more) rejects, any between are further actions. This keeps the
// given order on the platforms' usual layouts.
QMessageBox::ButtonRole roleFor(std::size_t index, std::size_t count) {
  if (index == 0) return QMessageBox::AcceptRole;
  if (index + 1 == count) return QMessageBox::RejectRole;
  return QMessageBox::ActionRole;
}

// Swallows the key presses meant for `box` (its buttons, the box itself) until
// `holdOff` has passed since it was made, shortly before the box shows.
// Watching the application sees them before the buttons do, shortcuts too.
class KeyHoldOff final : public QObject {
 public:
  KeyHoldOff(QMessageBox& box, std::chrono::milliseconds holdOff)
      : box_(box), until_(std::chrono::steady_clock::now() + holdOff) {
    qApp->installEventFilter(this);
    // Until then the window takes no keyboard focus, even when the window
    // manager would give it (some activate a dialog of an application that
    // has no window in front); afterwards a click gives it the keyboard.
    box.setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    QTimer::singleShot(holdOff, &box, [&box] {
      if (QWindow* window = box.windowHandle()) window->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    });
  }
  ~KeyHoldOff() override { qApp->removeEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
      return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || (widget != &box_ && !box_.isAncestorOf(widget))) return false;
    if (std::chrono::steady_clock::now() >= until_) return false;
    event->accept();  // a shortcut override taken here keeps the key from shortcuts
    return true;
  }

 private:
  QMessageBox& box_;
  const std::chrono::steady_clock::time_point until_;
};

}  // namespace

QtAlertPresenter::QtAlertPresenter(Dispatcher& dispatcher, std::chrono::milliseconds keyHoldOff)
    : dispatcher_(dispatcher), keyHoldOff_(keyHoldOff) {}

int QtAlertPresenter::run(const Alert& alert) {
  if (abandoned_.load()) return kAlertAbandoned;
  QMessageBox box;
  box.setWindowTitle(QStringLiteral("Quillory Helper"));
  box.setIcon(iconFor(alert.style));
  box.setText(toQString(alert.message));
  box.setTextFormat(Qt::PlainText);
  // The informative label takes rich text when the text looks like it; the
  // text is converted so that it is always shown as written (names, paths).
  if (!alert.informativeText.empty())
    box.setInformativeText(Qt::convertFromPlainText(toQString(alert.informativeText)));

  std::vector<QPushButton*> buttons;
  for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
    buttons.push_back(box.addButton(toQString(alert.buttons[i]), roleFor(i, alert.buttons.size())));
  }
  if (buttons.empty()) buttons.push_back(box.addButton(QMessageBox::Ok));
  box.setDefaultButton(buttons.front());
  box.setEscapeButton(buttons.back());

  std::optional<KeyHoldOff> holdOff;
  if (!alert.causedByUser) {
    // Shown at the front, but the window the user types in keeps the keys.
    box.setAttribute(Qt::WA_ShowWithoutActivating);
    holdOff.emplace(box, keyHoldOff_);
  }

  if (aboutToShow_) aboutToShow_(box);
  if (openAlerts_++ == 0 && openChanged_) openChanged_(true);
  {
    ModalScope modal(dispatcher_);
    box.exec();
  }
  if (--openAlerts_ == 0 && openChanged_) openChanged_(false);
  if (abandoned_.load()) return kAlertAbandoned;
  QAbstractButton* clicked = box.clickedButton();
  for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
    if (buttons[i] == clicked) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace quillory::platform::qt
