#pragma once
// What the desktop shell needs from AppKit on macOS besides its Qt widgets:
// the accessory activation policy, the status icon drawn from the system
// symbol, and the main bundle's information strings.
//
// Threading: main thread, once the application object exists (constructing
// QApplication creates it); `userTimeLocale` on any thread.

#include <optional>
#include <string>
#include <string_view>

namespace quillory::platform::macos {

// Makes the helper an accessory application: no Dock icon and no menu bar of
// its own, while it may still show alerts. Returns whether the system took it.
bool setAccessoryActivationPolicy();

// The status icon as PNG bytes, for a tray icon that takes a picture (the Qt
// side loads the bytes into a QPixmap, sets its device pixel ratio to
// `pixelScale` and, when `isTemplate` is true, marks the QIcon as a mask with
// `setIsMask(true)` so that the menu bar tints it like a template image).
struct StatusIconPng {
  std::string bytes;        // a whole PNG file
  bool isTemplate = false;  // black and clear only; the menu bar tints it
};

// The system symbol "q.circle.fill" (accessibility description "Quillory"),
// configured at `pointSize` points and regular weight, marked as a template
// image and drawn at `pixelScale` pixels per point. When the system has no
// such symbol, the application's own icon at `pointSize` points, not a
// template. None when neither can be drawn, or when the sizes are not positive
// or the picture would be more than 1024 pixels wide or high.
std::optional<StatusIconPng> statusIconPng(double pointSize = 16.0, double pixelScale = 2.0);

// Makes the helper the active application, so that the window it shows next
// takes the keyboard.
void activateApplication();

// Brings a window shown by this program to the front: `view` is the native
// view of a Qt window (its winId), whose window is ordered in front of other
// applications' windows. With `takeKeys` it also becomes the key window;
// without (an alert the user did not cause), it floats above other
// applications' windows, on every Space and over an application in full
// screen too, without taking the keyboard from the window the user types in.
void bringWindowToFront(void* view, bool takeKeys);

// The user's locale for times: the current locale's identifier (with the
// calendar and region the user chose), and whether the user's clock shows 24
// hours, as the locale's hour pattern for "j" with the user's settings says
// (none when it cannot be had).
struct UserTimeLocale {
  std::string identifier;
  std::optional<bool> uses24Hour;
};
UserTimeLocale userTimeLocale();

// The string under `key` in the main bundle's information dictionary; none
// when the dictionary or the key is missing or the value is not a string.
std::optional<std::string> mainBundleInfoString(const std::string& key);

// The main bundle's path as the system reports it; none when there is none.
std::optional<std::string> mainBundlePath();

// True when `bundlePath` is the read-only copy macOS runs instead of an
// application started from where it was downloaded, still quarantined (App
// Translocation): a random folder below /private/var/folders/.../
// AppTranslocation/ (/var/folders is the same place by its link).
inline bool isTranslocatedBundlePath(std::string_view bundlePath) {
  return (bundlePath.starts_with("/private/var/folders/") || bundlePath.starts_with("/var/folders/")) &&
         bundlePath.find("/AppTranslocation/") != std::string_view::npos;
}

}  // namespace quillory::platform::macos
