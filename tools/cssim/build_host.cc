#include "tools/cssim/build_host.h"

#include <fstream>
#include <iterator>

#include "tools/cssim/protocol_handler.h"

namespace cssim {

bool BuildHost::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the build " + path;
    return false;
  }
  content_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (content_.size() > kMaxAvBuildBytes) {
    *error = "the build " + path + " is larger than " + std::to_string(kMaxAvBuildBytes) + " bytes";
    return false;
  }
  return true;
}

void BuildHost::Install(httplib::Server& server) const {
  server.Get(R"(/(s1|cdn)/build\.exe)", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(content_, "application/octet-stream");
  });
}

Json::Value BuildHost::LocationCommand() const {
  Json::Value data(Json::objectValue);
  data["url1"] = base_url_ + "/s1/";
  data["url2"] = base_url_ + "/cdn/";
  return MakeCommand(kCmdAvBuildLocations, data);
}

}  // namespace cssim
