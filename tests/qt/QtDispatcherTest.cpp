// The Qt dispatcher on the shared contract, and the alerts that hold its
// timers while they are open.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

#include "QtPump.h"
#include "platform/DispatcherContractTest.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtDispatcher.h"

namespace quillory::platform::test {
namespace {

using qt::QtAlertPresenter;
using qt::QtDispatcher;

struct QtLoop {
  using Type = QtDispatcher;
  static bool pumpUntil(Type&, const std::function<bool()>& done) { return qt::test::pumpUntil(done, 10000); }
  static void pumpFor(Type&, std::chrono::milliseconds span) {
    qt::test::pumpFor(static_cast<int>(span.count()));
  }
  // Events the dispatcher posted must not run its dropped tasks later.
  static void settle() { qt::test::pumpFor(30); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, DispatcherContract, QtLoop);

// What a label shows, as plain text.
QString shownText(const QLabel* label) {
  if (label->textFormat() == Qt::PlainText || !Qt::mightBeRichText(label->text())) return label->text();
  QTextDocument document;
  document.setHtml(label->text());
  return document.toPlainText();
}

TEST(QtAlertPresenter, ShowsTextsAsWrittenAndReturnsTheChosenButton) {
  QtDispatcher dispatcher;
  QtAlertPresenter alerts(dispatcher);
  const Alert alert{"Remove \"<i>Lab</i> & Co\" from mobile devices?",
                    "Folder <b>/tmp/a&b</b> exists.",
                    AlertStyle::critical,
                    {"One", "Two", "Three"}};
  int shown = 0;
  alerts.setAboutToShow([&](QMessageBox& box) {
    ++shown;
    EXPECT_EQ(shownText(box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))), alert.message.c_str());
    EXPECT_EQ(shownText(box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))),
              alert.informativeText.c_str());
    EXPECT_EQ(box.defaultButton()->text(), "One");
    QTimer::singleShot(0, &box, [&] {
      EXPECT_EQ(dispatcher.modalDepth(), 1);  // timers are held while it is open
      for (QAbstractButton* button : box.buttons())
        if (button->text() == "Two") button->click();
    });
  });

  EXPECT_EQ(alerts.run(alert), 1);
  EXPECT_EQ(std::pair(shown, dispatcher.modalDepth()), std::pair(1, 0));

  // Closed by the window manager: as Escape, the last button.
  alerts.setAboutToShow([](QMessageBox& box) { QTimer::singleShot(0, &box, [&box] { box.close(); }); });
  EXPECT_EQ(alerts.run(alert), 2);

  // The program ends while it is open (a termination signal): no answer, and
  // none for an alert shown after that either.
  alerts.setAboutToShow([&](QMessageBox& box) {
    QTimer::singleShot(0, &box, [&] {
      alerts.abandonAlerts();
      box.close();
    });
  });
  EXPECT_EQ(alerts.run(alert), kAlertAbandoned);
  alerts.setAboutToShow([](QMessageBox& box) {
    ADD_FAILURE() << "shown after the program began to end";
    box.close();
  });
  EXPECT_EQ(alerts.run(alert), kAlertAbandoned);
}

}  // namespace
}  // namespace quillory::platform::test
