#include "platform/qt/QtDesktopServices.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace quillory::platform::qt {

bool QtDesktopServices::open(const std::filesystem::path& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

}  // namespace quillory::platform::qt
