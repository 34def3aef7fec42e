// agmachinfo - the machine-information collector.
//
//   agmachinfo /logRequest URL PORT SUBURL
//
// The agent starts it when the server asks for the client's logs. It collects
// a few facts about the machine and leaves them, with the request it was
// given, in the folder it was started from (the agent root):
//   machinfo.json            {"hostName", "os": {...}, "time", "request": {...}}
//   machinfo_requests.jsonl  one line per start: {"argv": [...], "time"}
// The argument vector is recorded exactly as received, so what the server's
// texts turned into can be checked word by word. Uploading is the server
// side's business and not done here. Exit codes: 0 done, 1 usage, 2 the
// files could not be written.
#include <json/json.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string CompactJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

std::string FolderOf(const std::string& program) {
  const size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string("./") : program.substr(0, slash + 1);
}

Json::Value MachineFacts() {
  Json::Value facts(Json::objectValue);
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) facts["hostName"] = host;
  struct utsname name {};
  if (uname(&name) == 0) {
    facts["os"]["name"] = name.sysname;
    facts["os"]["release"] = name.release;
    facts["os"]["version"] = name.version;
    facts["os"]["machine"] = name.machine;
  }
  facts["time"] = static_cast<Json::Int64>(std::time(nullptr));
  return facts;
}

// Replaces `path` whole, so a reader never sees half a file.
bool WriteAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text << '\n';
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() != 4 || arguments[0] != "/logRequest") {
    std::cerr << "usage: agmachinfo /logRequest URL PORT SUBURL\n";
    return 1;
  }
  const std::string folder = FolderOf(argv[0]);

  Json::Value started(Json::objectValue);
  started["argv"] = Json::Value(Json::arrayValue);
  for (const std::string& argument : arguments) started["argv"].append(argument);
  started["time"] = static_cast<Json::Int64>(std::time(nullptr));

  Json::Value info = MachineFacts();
  info["request"]["url"] = arguments[1];
  info["request"]["port"] = arguments[2];
  info["request"]["subUrl"] = arguments[3];

  std::ofstream requests(folder + "machinfo_requests.jsonl", std::ios::binary | std::ios::app);
  requests << CompactJson(started) << '\n';
  if (!requests.flush() || !WriteAtomically(folder + "machinfo.json", CompactJson(info))) {
    std::cerr << "agmachinfo: cannot write into " << folder << '\n';
    return 2;
  }
  return 0;
}
