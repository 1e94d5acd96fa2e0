#include "platform/qt/StatusIcon.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <cmath>
#include <numbers>

// The resource file is compiled into a static library; the linker keeps it only
// when something refers to it, so its initialiser is called here.
static void initQuilloryResources() { Q_INIT_RESOURCE(quillory); }

namespace quillory::platform::qt {

QIcon statusIcon() {
  initQuilloryResources();
  QIcon icon;
  for (int size : {16, 32, 64})
    icon.addFile(QStringLiteral(":/quillory/status-icon-%1.png").arg(size), QSize(size, size));
  icon.setIsMask(true);
  return icon;
}

QIcon indicatorFrame(int index) {
  QIcon icon;
  for (int size : {16, 32, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(size / 2.0, size / 2.0);
    const double inner = size * 0.22;
    const double outer = size * 0.45;
    for (int spoke = 0; spoke < kIndicatorFrameCount; ++spoke) {
      // The spoke `index` is the head; the others fade behind it.
      const int age = (index - spoke + kIndicatorFrameCount) % kIndicatorFrameCount;
      QColor colour(0, 0, 0);
      colour.setAlphaF(1.0 - 0.8 * age / double(kIndicatorFrameCount - 1));
      QPen pen(colour, std::max(1.5, size * 0.11), Qt::SolidLine, Qt::RoundCap);
      painter.setPen(pen);
      const double angle = 2 * std::numbers::pi * spoke / kIndicatorFrameCount - std::numbers::pi / 2;
      painter.drawLine(QPointF(inner * std::cos(angle), inner * std::sin(angle)),
                       QPointF(outer * std::cos(angle), outer * std::sin(angle)));
    }
    painter.end();
    icon.addPixmap(pixmap);
  }
  icon.setIsMask(true);
  return icon;
}

}  // namespace quillory::platform::qt
