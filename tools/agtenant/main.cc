// agtenant: the tenant file "clagnt.dat" for installers, support and tests.
//
//   agtenant encode IN.json OUT.dat   write the tenant file for a JSON text
//   agtenant decode IN.dat            print the JSON text of a tenant file
//   agtenant show IN.dat              pretty-print it with secrets masked
//
// A file the agent would refuse is refused here too, with exit code 1.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/tenant_codec.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;
constexpr const char* kMaskedKeys[] = {"proxyPassword"};

void PrintUsage(std::ostream& out) {
  out << "usage: agtenant encode IN.json OUT.dat\n"
         "       agtenant decode IN.dat\n"
         "       agtenant show IN.dat\n"
         "\n"
         "encode  encrypts a JSON object into a tenant file (clagnt.dat)\n"
         "decode  prints the JSON text held by a tenant file\n"
         "show    pretty-prints that JSON with secrets masked\n"
         "Exit code 1 when a file is unreadable or would be refused by the agent.\n";
}

[[nodiscard]] std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

[[nodiscard]] int Fail(const std::string& message) {
  std::cerr << "agtenant: " << message << "\n";
  return kExitBadInput;
}

[[nodiscard]] int Encode(const std::string& inPath, const std::string& outPath) {
  const auto json = ReadWholeFile(inPath);
  if (!json) return Fail("cannot read " + inPath);
  Json::Value root;
  if (!ParseTenantJson(*json, &root)) {
    return Fail(inPath + ": not a JSON object with at least one member; the agent would refuse it");
  }
  const std::string encoded = EncodeTenantFile(*json);
  if (encoded.empty()) return Fail("encryption failed");
  if (encoded.size() > kTenantFileMaxBytes) {
    return Fail(inPath + ": too large (" + std::to_string(encoded.size()) + " bytes encoded; the agent reads at most " +
                std::to_string(kTenantFileMaxBytes) + ")");
  }
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out << encoded;
  out.close();
  if (!out) return Fail("cannot write " + outPath);
  return kExitOk;
}

// Decodes `inPath` as the agent does; on success `plain` and `root` are set.
[[nodiscard]] int DecodeFile(const std::string& inPath, std::string* plain, Json::Value* root) {
  const auto bytes = ReadWholeFile(inPath);
  if (!bytes) return Fail("cannot read " + inPath);
  if (bytes->size() > kTenantFileMaxBytes) {
    std::cerr << "agtenant: warning: " << inPath << " is longer than " << kTenantFileMaxBytes
              << " bytes; the agent reads only the first " << kTenantFileMaxBytes << "\n";
  }
  const auto decoded = DecodeTenantFile(*bytes);
  if (!decoded) return Fail(inPath + ": not a tenant file (bad Base64, length or padding)");
  *plain = *decoded;
  if (!ParseTenantJson(*decoded, root)) {
    return Fail(inPath + ": decrypts, but not to a JSON object with at least one member");
  }
  return kExitOk;
}

[[nodiscard]] int Decode(const std::string& inPath) {
  std::string plain;
  Json::Value root;
  const int result = DecodeFile(inPath, &plain, &root);
  if (result == kExitOk) std::cout << plain << (plain.ends_with('\n') ? "" : "\n");
  return result;
}

[[nodiscard]] int Show(const std::string& inPath) {
  std::string plain;
  Json::Value root;
  const int result = DecodeFile(inPath, &plain, &root);
  if (result != kExitOk) return result;
  for (const char* key : kMaskedKeys) {
    if (root.isMember(key)) root[key] = "********";
  }
  std::cout << Json::StyledWriter().write(root);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "--help" || command == "-h" || command == "help") {
    PrintUsage(std::cout);
    return kExitOk;
  }
  if (command == "encode" && argc == 4) return Encode(argv[2], argv[3]);
  if (command == "decode" && argc == 3) return Decode(argv[2]);
  if (command == "show" && argc == 3) return Show(argv[2]);
  PrintUsage(std::cerr);
  return kExitUsage;
}
