#include "platform/qt/QtMenu.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QTextDocument>

namespace quillory::platform::qt {
namespace {

QString toQString(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

constexpr const char* kDBusLabelsProperty = "quilloryDBusLabels";

bool dbusLabels(const QObject* menu) { return menu && menu->property(kDBusLabelsProperty).toBool(); }

// The action's text that shows `title` as written. A menu drawn by Qt takes
// "&" as the mark of the next letter's mnemonic, and "&&" as a plain "&".
// A menu exported over D-Bus is drawn by the tray host, whose label rules
// (com.canonical.dbusmenu) take "_" as that mark and "__" as a plain "_",
// and "&" as itself; on the way out Qt turns the first "&" of the text into
// "_". So there "_" is doubled and only the first "&" gets a partner, which
// Qt's "_" then marks: the host shows every character as written (with the
// first "&" as the item's access key).
QString menuText(const std::string& title, bool forDBus) {
  QString text = toQString(title);
  if (!forDBus) return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
  text.replace(QLatin1Char('_'), QStringLiteral("__"));
  if (const qsizetype first = text.indexOf(QLatin1Char('&')); first >= 0)
    text.insert(first, QLatin1Char('&'));
  return text;
}

// Ctrl+<key> for a one-character key equivalent; empty otherwise.
QKeySequence shortcutFor(const std::string& keyEquivalent) {
  if (keyEquivalent.empty()) return {};
  return QKeySequence(QStringLiteral("Ctrl+") + toQString(keyEquivalent).toUpper());
}

// The menu that `menu` is a submenu of, or null.
QMenu* parentMenu(const QMenu* menu) {
  for (QObject* owner : menu->menuAction()->associatedObjects()) {
    if (auto* parent = qobject_cast<QMenu*>(owner)) return parent;
  }
  return nullptr;
}

// The key equivalents of an open menu. A tray's popup menu has no window that
// Qt's shortcuts would work in, so the menu takes Ctrl+<key> itself: the
// enabled item of this menu, or of a menu it is a submenu of, with that
// shortcut is chosen as a click would, after the menus close.
class ShortcutKeys final : public QObject {
 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!(key->modifiers() & Qt::ControlModifier)) return false;
    const QKeySequence pressed(key->keyCombination());
    for (QMenu* menu = qobject_cast<QMenu*>(watched); menu; menu = parentMenu(menu)) {
      for (QAction* action : menu->actions()) {
        if (action->shortcut().isEmpty() || action->shortcut() != pressed || !action->isEnabled()) continue;
        for (QMenu* open = qobject_cast<QMenu*>(watched); open; open = parentMenu(open)) open->hide();
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
        return true;
      }
    }
    return false;
  }
};

}  // namespace

QString plainToolTip(const std::string& text) {
  if (text.empty()) return {};
#if defined(__APPLE__)
  return toQString(text);  // the system shows tool tips as plain text
#else
  // A tool tip that looks like markup is shown as rich text: the text is
  // converted so that it always shows as written (names such as "<b>").
  return Qt::convertFromPlainText(toQString(text));
#endif
}

QtMenuItem::QtMenuItem(QMenu& menu, const std::string& title, const std::string& keyEquivalent, Action action,
                       bool separator)
    : title_(separator ? std::string() : title),
      separator_(separator),
      keyEquivalent_(keyEquivalent),
      handler_(std::move(action)) {
  if (separator) {
    action_ = menu.addSeparator();
    return;
  }
  action_ = menu.addAction(menuText(title, dbusLabels(&menu)));
  action_->setShortcut(shortcutFor(keyEquivalent));
  QObject::connect(action_, &QAction::triggered, action_, [this] { choose(); });
}

QtMenuItem::~QtMenuItem() {
  if (action_) {
    if (auto* menu = qobject_cast<QMenu*>(action_->parent())) menu->removeAction(action_);
    action_->deleteLater();
  }
}

void QtMenuItem::choose() {
  // Whatever Qt did to the check mark on the click, it shows the program's
  // state until the program changes it.
  if (action_ && action_->isCheckable()) action_->setChecked(checked_);
  if (!handler_ || !isEnabled()) return;
  // The action may drop this item from its menu (a refresh refills the
  // submenu); keep it and the handler alive until the action returns.
  std::shared_ptr<QtMenuItem> keep = shared_from_this();
  Action handler = handler_;
  handler(*this);
}

std::string QtMenuItem::title() const { return title_; }

void QtMenuItem::setTitle(const std::string& title) {
  if (separator_) return;
  title_ = title;
  if (action_) action_->setText(menuText(title, dbusLabels(action_->parent())));
}

void QtMenuItem::setToolTip(const std::string& toolTip) {
  if (separator_) return;
  toolTip_ = toolTip;
  if (action_) action_->setToolTip(plainToolTip(toolTip));
}

bool QtMenuItem::isEnabled() const { return action_ && action_->isEnabled(); }

void QtMenuItem::setEnabled(bool enabled) {
  if (action_) action_->setEnabled(enabled);
}

void QtMenuItem::setChecked(bool checked) {
  checked_ = checked;
  if (!action_ || separator_) return;
  if (checked && !action_->isCheckable()) action_->setCheckable(true);
  if (action_->isCheckable()) action_->setChecked(checked);
}

std::shared_ptr<Menu> QtMenuItem::submenu() const { return submenu_; }

std::shared_ptr<Menu> QtMenuItem::makeSubmenu() {
  submenu_ = std::make_shared<QtMenu>();
  if (action_) {
    submenu_->setDBusLabels(dbusLabels(action_->parent()));
    submenu_->qmenu()->setTitle(menuText(title_, dbusLabels(action_->parent())));
    action_->setMenu(submenu_->qmenu());
  }
  return submenu_;
}

void QtMenu::DeleteLater::operator()(QMenu* menu) const {
  if (menu) menu->deleteLater();
}

QtMenu::QtMenu() : menu_(new QMenu()) {
  menu_->setToolTipsVisible(true);
  menu_->installEventFilter(new ShortcutKeys(menu_.get()));
}

QtMenu::~QtMenu() {
  items_.clear();
  menu_.reset();
}

std::shared_ptr<MenuItem> QtMenu::addItem(const std::string& title, const std::string& keyEquivalent,
                                          MenuItem::Action action) {
  auto item = std::make_shared<QtMenuItem>(*menu_, title, keyEquivalent, std::move(action), false);
  items_.push_back(item);
  return item;
}

std::shared_ptr<MenuItem> QtMenu::addSeparator() {
  auto item = std::make_shared<QtMenuItem>(*menu_, "", "", nullptr, true);
  items_.push_back(item);
  return item;
}

std::shared_ptr<MenuItem> QtMenu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_) {
    if (!item->isSeparator() && item->title() == title) return item;
  }
  return nullptr;
}

std::vector<std::shared_ptr<MenuItem>> QtMenu::items() const { return {items_.begin(), items_.end()}; }

void QtMenu::removeAllItems() { items_.clear(); }

void QtMenu::setDBusLabels(bool dbus) {
  if (dbusLabels(menu_.get()) == dbus) return;
  menu_->setProperty(kDBusLabelsProperty, dbus);
  for (const std::shared_ptr<QtMenuItem>& item : items_) {
    item->setTitle(item->title());
    if (auto submenu = std::dynamic_pointer_cast<QtMenu>(item->submenu())) submenu->setDBusLabels(dbus);
  }
}

std::shared_ptr<MenuItem> QtMenu::highlightedItem() const { return itemFor(menu_->activeAction()); }

void QtMenu::highlight(const std::shared_ptr<MenuItem>& item) {
  for (const auto& mine : items_) {
    if (mine == item) menu_->setActiveAction(mine->action());
  }
}

std::shared_ptr<QtMenuItem> QtMenu::itemFor(const QAction* action) const {
  for (const auto& item : items_) {
    if (item->action() == action) return item;
  }
  return nullptr;
}

}  // namespace quillory::platform::qt
