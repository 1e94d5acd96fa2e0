#pragma once
// The hand-over between a second launch and the running helper, over the
// session bus. The running helper owns the bus name "test.quillory.helper"
// and answers the freedesktop application interface
// (org.freedesktop.Application, Activate) at "/test/quillory/helper", the
// call desktops make to bring a running application forward. A second
// launch makes that call and leaves; the running helper shows itself.
//
// Linux only. Threading: main thread.

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>
#include <chrono>
#include <functional>

namespace quillory::platform::qt {

inline constexpr const char* kHelperBusName = "test.quillory.helper";
inline constexpr const char* kHelperObjectPath = "/test/quillory/helper";

// The running helper's side: owns the name for its whole life and calls
// `showRequested` on the main thread for every Activate call.
class HandOverService final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

 public:
  explicit HandOverService(std::function<void()> showRequested,
                           QDBusConnection bus = QDBusConnection::sessionBus());
  ~HandOverService() override;
  // False without a session bus or when another process owns the name.
  bool ownsName() const { return ownsName_; }

 public slots:
  Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

 private:
  const std::function<void()> showRequested_;
  QDBusConnection bus_;
  bool ownsName_ = false;
};

// The second launch's side: asks the running helper to show itself. The
// running one may be starting and not own its name yet: the call is tried
// again until `patience` has passed. True when the running helper answered.
// Needs a QCoreApplication.
bool askRunningHelperToShow(std::chrono::milliseconds patience,
                            QDBusConnection bus = QDBusConnection::sessionBus());

}  // namespace quillory::platform::qt
