#include "platform/qt/StatusIcon.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <numbers>

// The resource file is compiled into a static library; the linker keeps it only
// when something refers to it, so its initialiser is called here.
static void initQuilloryResources() { Q_INIT_RESOURCE(quillory); }

namespace quillory::platform::qt {
namespace {

constexpr int kSizes[] = {16, 32, 64};
// The blue of the application icon, behind the indicator's white spokes.
const QColor kIconBlue(0x25, 0x63, 0xEB);
// The error badge's red.
const QColor kErrorRed(0xDC, 0x26, 0x26);

// A transparent square with a disc of `colour`, `margin` pixels inside its edges.
QPixmap discOfSize(int size, const QColor& colour, double margin) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawEllipse(QRectF(margin, margin, size - 2 * margin, size - 2 * margin));
  return pixmap;
}

}  // namespace

void drawErrorBadge(QPixmap& pixmap, IconStyle style) {
  // In device-independent pixels, so that a high-density image gets the
  // same badge as its plain one.
  const double side = std::min(pixmap.width(), pixmap.height()) / pixmap.devicePixelRatio();
  const double diameter = side * 0.56;
  const double ring = std::max(1.0, side / 16.0);
  const QRectF disc(side - diameter, side - diameter, diameter, diameter);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const bool filled = style == IconStyle::filled;
  // The gap (template: cleared) or the white ring (filled) around the disc.
  if (!filled) painter.setCompositionMode(QPainter::CompositionMode_Clear);
  painter.setBrush(filled ? QColor(Qt::white) : QColor(Qt::black));
  painter.drawEllipse(disc.adjusted(-ring, -ring, ring, ring));
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.setBrush(filled ? kErrorRed : QColor(Qt::black));
  painter.drawEllipse(disc);
  // The "!": a bar and a dot, white on the red disc, cut out of the black one.
  if (!filled) painter.setCompositionMode(QPainter::CompositionMode_Clear);
  painter.setBrush(Qt::white);
  const double width = diameter * 0.18;
  const double centre = disc.center().x();
  painter.drawRoundedRect(QRectF(centre - width / 2, disc.top() + diameter * 0.18, width, diameter * 0.4),
                          width / 2, width / 2);
  painter.drawEllipse(QPointF(centre, disc.top() + diameter * 0.78), width * 0.6, width * 0.6);
}

QIcon statusIcon(IconStyle style, bool error) {
  initQuilloryResources();
  QIcon icon;
  for (int size : kSizes) {
    const QString file = style == IconStyle::templateMask
                             ? QStringLiteral(":/quillory/status-icon-%1.png").arg(size)
                             : QStringLiteral(":/quillory/app-icon-%1.png").arg(size);
    if (!error) {
      icon.addFile(file, QSize(size, size));
      continue;
    }
    QPixmap pixmap(file);
    drawErrorBadge(pixmap, style);
    icon.addPixmap(pixmap);
  }
  icon.setIsMask(style == IconStyle::templateMask);
  return icon;
}

QIcon indicatorFrame(int index, IconStyle style) {
  const bool filled = style == IconStyle::filled;
  QIcon icon;
  for (int size : kSizes) {
    // The filled style draws on a disc of the application icon's blue.
    QPixmap pixmap = filled ? discOfSize(size, kIconBlue, size / 32.0) : QPixmap(size, size);
    if (!filled) pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(size / 2.0, size / 2.0);
    const double inner = size * (filled ? 0.17 : 0.22);
    const double outer = size * (filled ? 0.36 : 0.45);
    for (int spoke = 0; spoke < kIndicatorFrameCount; ++spoke) {
      // The spoke `index` is the head; the others fade behind it.
      const int age = (index - spoke + kIndicatorFrameCount) % kIndicatorFrameCount;
      QColor colour = filled ? QColor(Qt::white) : QColor(Qt::black);
      colour.setAlphaF(1.0 - 0.8 * age / double(kIndicatorFrameCount - 1));
      painter.setPen(QPen(colour, std::max(1.5, size * 0.1), Qt::SolidLine, Qt::RoundCap));
      const double angle = 2 * std::numbers::pi * spoke / kIndicatorFrameCount - std::numbers::pi / 2;
      painter.drawLine(QPointF(inner * std::cos(angle), inner * std::sin(angle)),
                       QPointF(outer * std::cos(angle), outer * std::sin(angle)));
    }
    painter.end();
    icon.addPixmap(pixmap);
  }
  icon.setIsMask(!filled);
  return icon;
}

std::vector<QIcon> indicatorFrames(IconStyle style) {
  std::vector<QIcon> frames;
  for (int index = 0; index < kIndicatorFrameCount; ++index) frames.push_back(indicatorFrame(index, style));
  return frames;
}

QIcon blankIcon() {
  QPixmap empty(16, 16);
  empty.fill(Qt::transparent);
  return QIcon(empty);
}

}  // namespace quillory::platform::qt
