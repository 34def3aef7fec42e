// The protection product's build as the simulator hands it out: the file
// named with --av-build, served at /s1/build.exe (the server's own location)
// and /cdn/build.exe (the content-delivery location), and the
// download-location command (39) that names those two folders. Clients get
// that command with their first heartbeat and again whenever they ask for
// the locations (notification 134).
//
// Load and SetBaseUrl run before the listeners serve; afterwards every
// member is read-only, so handler threads may call at once.
#pragma once

#include <httplib.h>
#include <json/value.h>

#include <cstdint>
#include <string>

namespace cssim {

inline constexpr uint32_t kCmdAvBuildLocations = 39;
inline constexpr uint32_t kAskForAvBuildDataId = 134;
// A build larger than this is refused at start rather than held in memory.
inline constexpr size_t kMaxAvBuildBytes = 16u << 20;

class BuildHost {
 public:
  [[nodiscard]] bool Load(const std::string& path, std::string* error);
  // "http://HOST:PORT" (or https) of the listener the build is served on.
  void SetBaseUrl(const std::string& base_url) { base_url_ = base_url; }
  void Install(httplib::Server& server) const;
  // {"cmd":{"id":39,...,"data":{"url1":"<base>/s1/","url2":"<base>/cdn/"}}}
  [[nodiscard]] Json::Value LocationCommand() const;

 private:
  std::string content_;
  std::string base_url_;
};

}  // namespace cssim
