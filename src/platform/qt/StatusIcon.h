#pragma once
// The images of the status item: the status icon, a "q" cut out of a filled
// circle shipped as a resource in three sizes and marked as a mask so that
// macOS tints it as a template image; and the frames of the activity
// indicator, a ring of spokes of which one is darkest, turning by one spoke
// per frame, drawn in the same single colour.
//
// Threading: main thread (the images need the GUI application).

#include <QIcon>
#include <vector>

namespace quillory::platform::qt {

inline constexpr int kIndicatorFrameCount = 8;

QIcon statusIcon();
// The frame `index` (0 to kIndicatorFrameCount - 1) of the indicator.
QIcon indicatorFrame(int index);

}  // namespace quillory::platform::qt
