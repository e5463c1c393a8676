#pragma once
// Text input sources: the system-wide registry of keyboard layouts and input
// methods that the installer registers, enables and selects its input method
// in. The stand-in for the platform's Text Input Sources service.
//
// The registry is one JSON file under the system root
// (docs/input_sources.md), rewritten whole under an exclusive file lock and
// replaced by a rename, so several processes can use it at once. Reading
// takes no lock and creates nothing; a change waits a bounded time for the
// lock and fails with fBsyErr when another process keeps it. The registry's
// folder, the registry and its lock belong to the folder's owner and only
// that owner and root may write them: anything else is refused (permErr),
// never repaired. Files are opened relative to the folder opened once,
// without following links or waiting on a pipe.
// An input source is referred to by its id; its properties are read from the
// file at the time of the call. Every change of the set of enabled sources posts the distributed
// notification kEnabledKeyboardInputSourcesChanged.
//
// Consent: from platform version 12, enabling an input method that is not
// the system's own stays pending until the user approves it in the system's
// settings (approvePendingInputSource(), the input-sources tool's "approve").
// Enabling a mode of an input method that is already enabled needs no consent.
//
//   auto list = quillo::tis::createInputSourceList(
//       {{tis::Property::BundleID, std::string("com.norvane.inputmethod.quillo")}}, true);
//   quillo::tis::enableInputSource(list.front());
//
// Safe from any thread and any number of processes.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillo::tis {

using OSStatus = int32_t;
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;  // No such source, or not allowed on it.
inline constexpr OSStatus ioErr = -36;     // The registry cannot be read or written.
inline constexpr OSStatus fBsyErr = -47;   // Another process kept the registry locked.
// The registry's folder, file or lock is open to other users than its owner
// and root, or belongs to another user (registryRefusal() says which).
inline constexpr OSStatus permErr = -54;

inline constexpr std::string_view kEnabledKeyboardInputSourcesChanged =
    "TISNotifyEnabledKeyboardInputSourcesChanged";
// The system's plain layout, current in a new registry.
inline constexpr std::string_view kSystemLayoutId = "com.apple.keylayout.ABC";

enum class Property {
  InputSourceID,        // string
  BundleID,             // string
  InputModeID,          // string; absent for sources that are not modes
  InputSourceIsEnabled,       // bool
  InputSourceIsSelectCapable, // bool
  InputSourceIsSelected,      // bool
};
using PropertyValue = std::variant<std::string, bool>;
// Every property given must match (by equal value).
using Filter = std::map<Property, PropertyValue>;

// The platform's name of a property, for log lines ("kTISPropertyInputSourceID").
[[nodiscard]] std::string_view propertyName(Property property);

// One entry of the registry, by id. Cheap to copy; refers to whatever the
// registry holds under that id when a property is read.
class InputSource {
 public:
  explicit InputSource(std::string id) : id_(std::move(id)) {}
  [[nodiscard]] const std::string& id() const { return id_; }
  friend bool operator==(const InputSource&, const InputSource&) = default;

 private:
  std::string id_;
};

// The sources matching `filter`, in registry order: enabled ones only, or with
// `includeAllInstalled` also the installed but disabled ones. Empty when none
// match or the registry cannot be read.
[[nodiscard]] std::vector<InputSource> createInputSourceList(const Filter& filter,
                                                             bool includeAllInstalled);

// A property of `source`; nothing when the source is gone or lacks it.
[[nodiscard]] std::optional<PropertyValue> getInputSourceProperty(const InputSource& source,
                                                                  Property property);
// Typed shorthands: nothing on a missing property or one of the other type.
[[nodiscard]] std::optional<std::string> stringProperty(const InputSource& source, Property property);
[[nodiscard]] std::optional<bool> boolProperty(const InputSource& source, Property property);

// Registers the input method bundle at `bundlePath` from its manifest
// (Contents/Info.json, "CFBundleIdentifier" and "TISInputSource"): its source
// and its modes, disabled. A bundle registered before keeps its entries'
// states. paramErr when the manifest is missing or malformed (nothing changes).
[[nodiscard]] OSStatus registerInputSource(const std::string& bundlePath);

// noErr also when already enabled, or when the enabling now waits for consent.
[[nodiscard]] OSStatus enableInputSource(const InputSource& source);
[[nodiscard]] OSStatus disableInputSource(const InputSource& source);
// The source must be enabled and select-capable. It becomes the only selected
// source and the current keyboard source.
[[nodiscard]] OSStatus selectInputSource(const InputSource& source);
// When it was the current keyboard source, the system layout takes its place.
[[nodiscard]] OSStatus deselectInputSource(const InputSource& source);

// The selected keyboard source; nothing when none is (or the registry is unreadable).
[[nodiscard]] std::optional<InputSource> copyCurrentKeyboardInputSource();

// The system's settings: grants a pending enable. paramErr when `source` is not pending.
[[nodiscard]] OSStatus approvePendingInputSource(const InputSource& source);
[[nodiscard]] bool isPendingApproval(const InputSource& source);

// The registry file for the current system root.
[[nodiscard]] std::string registryPath();
// noErr when the registry reads (a missing one reads as the default), ioErr
// when it is unreadable or malformed, permErr when it is refused. Creates nothing.
[[nodiscard]] OSStatus checkRegistry();
// Why the registry is refused (permErr), naming the path and the fix, as
// the refusal is logged; empty when it is not. Creates nothing.
[[nodiscard]] std::string registryRefusal();

// How long a change waits for the registry's lock (nothing: the default, 5 s).
void setLockTimeoutForTesting(std::optional<double> seconds);
// Runs `hook` just before each read opens the registry file (a change holds
// the lock by then), so a test can swap the file or its folder at that
// moment; an empty hook: none.
void setRegistryReadHookForTesting(std::function<void()> hook);

}  // namespace quillo::tis
