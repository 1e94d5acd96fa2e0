#pragma once
// The images of the status item: the status icon, shipped as a resource in
// three sizes; and the frames of the activity indicator, a ring of spokes of
// which one is darkest, turning by one spoke per frame.
//
// Two styles: as a template, the icon is a "q" cut out of a black circle and
// the spokes are black, on transparency, marked as a mask, so that the macOS
// menu bar tints them; filled, the icon is the coloured application icon (a
// white "q" on a blue square, data/icons) and the spokes are white on a blue
// disc: mid-toned, they show on the light and the dark panels of Linux
// trays, which do not tint masks.
//
// The error variant (while the last sync failed) carries a badge at the
// lower right: filled, a red disc with a white "!" inside a white ring, which
// stands out on light and dark panels alike; as a template, a disc with the
// "!" cut out and a clear gap around it, so that the tinted badge stays
// legible in light and dark menu bars.
//
// Threading: main thread (the images need the GUI application).

#include <QIcon>
#include <QPixmap>
#include <vector>

namespace quillory::platform::qt {

enum class IconStyle { templateMask, filled };

#if defined(__APPLE__)
inline constexpr IconStyle kPlatformIconStyle = IconStyle::templateMask;
#else
inline constexpr IconStyle kPlatformIconStyle = IconStyle::filled;
#endif

inline constexpr int kIndicatorFrameCount = 8;

QIcon statusIcon(IconStyle style = kPlatformIconStyle, bool error = false);
// Draws the error badge onto `pixmap` (an image of the status icon).
void drawErrorBadge(QPixmap& pixmap, IconStyle style);
// The frame `index` (0 to kIndicatorFrameCount - 1) of the indicator.
QIcon indicatorFrame(int index, IconStyle style = kPlatformIconStyle);
// All of them, in order.
std::vector<QIcon> indicatorFrames(IconStyle style = kPlatformIconStyle);
// A transparent image (16 by 16), which keeps the icon's place in a tray.
QIcon blankIcon();

}  // namespace quillory::platform::qt
