// quillo-input-sources: plays the system's settings for the text input
// sources registry, from another process than the installer.
//
//   quillo-input-sources [--root DIR] list
//   quillo-input-sources [--root DIR] approve SOURCE_ID   # the user allows a pending source
//   quillo-input-sources [--root DIR] select SOURCE_ID    # the user picks a source in the menu
//
// `list` prints a header row, then one tab-separated row per source: id,
// state (enabled, pending, disabled), selection (current, selected, -) and
// bundle id. A refusal names its reason and the platform status:
// "cannot select X: the source is not enabled (-50)".
//
// Exit status: 0 done, 1 refused (unknown or not pending source, unreadable
// registry, registry kept locked by another process, a registry folder, file
// or lock that others can write or that is not the owner's: the message
// names the path and the fix), 2 usage (also a --root that is not a folder).
#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/folders.h"
#include "platform/input_sources.h"

namespace {
namespace tis = quillo::tis;

constexpr const char* kUsage =
    "usage: quillo-input-sources [--root DIR] list\n"
    "       quillo-input-sources [--root DIR] approve SOURCE_ID\n"
    "       quillo-input-sources [--root DIR] select SOURCE_ID\n";

// A refusal of the command line: what was refused, then the usage.
int usage(const std::string& why) {
  std::fprintf(stderr, "quillo-input-sources: %s\n%s", why.c_str(), kUsage);
  return 2;
}

int list() {
  if (const auto status = tis::checkRegistry(); status != tis::noErr) {
    const std::string why = status == tis::permErr ? tis::registryRefusal()
                                                   : "cannot read the registry " + tis::registryPath();
    std::fprintf(stderr, "quillo-input-sources: %s\n", why.c_str());
    return 1;
  }
  const auto current = tis::copyCurrentKeyboardInputSource();
  std::printf("ID\tSTATE\tSELECTION\tBUNDLE\n");
  for (const auto& s : tis::createInputSourceList({}, /*includeAllInstalled=*/true)) {
    const bool enabled = tis::boolProperty(s, tis::Property::InputSourceIsEnabled).value_or(false);
    const char* state = enabled ? "enabled" : tis::isPendingApproval(s) ? "pending" : "disabled";
    const bool selected = tis::boolProperty(s, tis::Property::InputSourceIsSelected).value_or(false);
    std::printf("%s\t%s\t%s\t%s\n", s.id().c_str(), state,
                current == s ? "current" : selected ? "selected" : "-",
                tis::stringProperty(s, tis::Property::BundleID).value_or("").c_str());
  }
  return 0;
}

// Why `verb` was refused for `source`, in words; read after the refusal.
std::string reasonFor(const std::string& verb, const tis::InputSource& source, tis::OSStatus status) {
  if (status == tis::fBsyErr) return "the registry is locked by another process";
  if (status == tis::permErr) return tis::registryRefusal();
  if (status == tis::ioErr) return "the registry " + tis::registryPath() + " cannot be read or written";
  if (status != tis::paramErr) return "the platform refused";
  if (!tis::stringProperty(source, tis::Property::InputSourceID)) return "no such input source";
  const bool enabled = tis::boolProperty(source, tis::Property::InputSourceIsEnabled).value_or(false);
  if (verb == "approve") return enabled ? "the source is already enabled" : "the source is not waiting for approval";
  if (!enabled) return tis::isPendingApproval(source) ? "the source is not enabled (approval pending)"
                                                      : "the source is not enabled";
  if (!tis::boolProperty(source, tis::Property::InputSourceIsSelectCapable).value_or(false)) {
    return "the source cannot be selected";
  }
  return "the platform refused";
}

int report(const std::string& verb, const std::string& id, tis::OSStatus status) {
  if (status == tis::noErr) return 0;
  std::fprintf(stderr, "quillo-input-sources: cannot %s %s: %s (%d)\n", verb.c_str(), id.c_str(),
               reasonFor(verb, tis::InputSource(id), status).c_str(), static_cast<int>(status));
  return 1;
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int runCommand(std::vector<std::string> args) {
  if (!args.empty() && args[0] == "--root") {
    if (args.size() < 2 || args[1].empty()) return usage("--root: missing value");
    if (!isFolder(args[1])) {
      std::fprintf(stderr, "quillo-input-sources: --root: not a folder: %s\n", args[1].c_str());
      return 2;
    }
    quillo::folders::setSystemRoot(args[1]);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.empty()) return usage("missing a command");
  const std::string& command = args[0];
  if (command == "list") return args.size() == 1 ? list() : usage("list: expected no arguments");
  if (command == "approve" || command == "select") {
    if (args.size() != 2) return usage(command + ": expected SOURCE_ID");
    const tis::InputSource source(args[1]);
    return report(command, args[1],
                  command == "approve" ? tis::approvePendingInputSource(source)
                                       : tis::selectInputSource(source));
  }
  return usage((command.starts_with("-") ? "unknown option: " : "unknown command: ") + command);
}

}  // namespace

int main(int argc, char** argv) {
  // A registry path that is a folder, or any other surprise of the file
  // system, is reported rather than aborting the tool.
  try {
    return runCommand(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillo-input-sources: %s: %s\n", quillo::tis::registryPath().c_str(), e.what());
    return 2;
  }
}
