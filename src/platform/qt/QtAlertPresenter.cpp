#include "platform/qt/QtAlertPresenter.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
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

}  // namespace

QtAlertPresenter::QtAlertPresenter(Dispatcher& dispatcher) : dispatcher_(dispatcher) {}

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

  if (aboutToShow_) aboutToShow_(box);
  {
    ModalScope modal(dispatcher_);
    box.exec();
  }
  if (abandoned_.load()) return kAlertAbandoned;
  QAbstractButton* clicked = box.clickedButton();
  for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
    if (buttons[i] == clicked) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace quillory::platform::qt
