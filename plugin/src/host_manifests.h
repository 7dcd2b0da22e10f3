// The files that tell the browsers where the button's native-messaging host
// is: one JSON manifest per browser family, in the user's own folders
// (Chromium: ${XDG_CONFIG_HOME:-~/.config}/chromium/NativeMessagingHosts,
// also google-chrome when that folder exists; Firefox:
// ~/.mozilla/native-messaging-hosts).
#pragma once

#include <string>
#include <vector>

namespace navlet {

struct HostManifest {
    std::string path;  // where the file goes
    std::string text;  // its content
};

// The manifests for a host program at hostPath (absolute). Empty when there
// is no home folder to put them in.
std::vector<HostManifest> HostManifests(const std::string& hostPath);

// Writes each file (its folder created when missing) by a rename, so a
// browser never reads half a manifest. False when one cannot be written.
bool WriteHostManifests(const std::vector<HostManifest>& manifests);
// Removes the files; a file that is not there is not an error.
bool RemoveHostManifests(const std::vector<HostManifest>& manifests);

}  // namespace navlet
