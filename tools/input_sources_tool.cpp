// quillo-input-sources: plays the system's settings for the text input
// sources registry, from another process than the installer.
//
//   quillo-input-sources [--root DIR] list
//   quillo-input-sources [--root DIR] approve SOURCE_ID   # the user allows a pending source
//   quillo-input-sources [--root DIR] select SOURCE_ID    # the user picks a source in the menu
//
// Exit status: 0 done, 1 refused (unknown or not pending source, unreadable
// registry, registry kept locked by another process), 2 usage.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/folders.h"
#include "platform/input_sources.h"

namespace {
namespace tis = quillo::tis;

int usage() {
  std::fprintf(stderr,
               "usage: quillo-input-sources [--root DIR] list\n"
               "       quillo-input-sources [--root DIR] approve SOURCE_ID\n"
               "       quillo-input-sources [--root DIR] select SOURCE_ID\n");
  return 2;
}

int list() {
  if (tis::checkRegistry() != tis::noErr) {
    std::fprintf(stderr, "quillo-input-sources: cannot read %s\n", tis::registryPath().c_str());
    return 1;
  }
  const auto current = tis::copyCurrentKeyboardInputSource();
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

int report(const char* verb, const std::string& id, tis::OSStatus status) {
  if (status == tis::noErr) return 0;
  if (status == tis::fBsyErr) {
    std::fprintf(stderr,
                 "quillo-input-sources: cannot %s %s: the registry is locked by another process\n",
                 verb, id.c_str());
    return 1;
  }
  std::fprintf(stderr, "quillo-input-sources: cannot %s %s (status %d)\n", verb, id.c_str(),
               static_cast<int>(status));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--root") {
    quillo::folders::setSystemRoot(args[1]);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() == 1 && args[0] == "list") return list();
  if (args.size() == 2 && args[0] == "approve") {
    return report("approve", args[1], tis::approvePendingInputSource(tis::InputSource(args[1])));
  }
  if (args.size() == 2 && args[0] == "select") {
    return report("select", args[1], tis::selectInputSource(tis::InputSource(args[1])));
  }
  return usage();
}
