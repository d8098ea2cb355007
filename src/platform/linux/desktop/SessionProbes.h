#pragma once

#include <string>

#include "app/Doctor.h"
#include "platform/linux/hotkeybackend/HotkeyBackend.h"

// What this desktop session offers Zarn, looked at once per call, for `zarn doctor`.
namespace zarn::desktop {

doctor::DisplayFacts probeDisplay(const EnvironmentLookup& environment);
doctor::KeyFacts probeKeys(HotkeyBackend backend, const std::string& inputFolder = "/dev/input",
                           const std::string& uinputDevice = "/dev/uinput");
// Whether this process's user is in the input group, in this session or only in the group database.
doctor::GroupMembership inputGroupMembership();
doctor::AccessibilityFacts probeAccessibilityBus();
doctor::TrayFacts probeTray();

}  // namespace zarn::desktop
