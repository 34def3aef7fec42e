// Fuzz target of the message parser: any byte string handed to OpenMsg must
// end in a clean refusal or in a request that can be read and given back.
#include <agsuite/agmsg.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parser takes NUL-terminated text, as the transport hands it over.
  const std::string text(reinterpret_cast<const char*>(data), size);
  ICSPMsgParser* parser = nullptr;
  if (CreateICSPMsgParserObj(&parser) == 0) return 0;
  if (parser->OpenMsg(text.c_str()) != 0) {
    CSPRequest* request = nullptr;
    if (parser->ParseRequestMsg(&request) != 0) {
      // Touch every text so a sanitizer sees any bad pointer or missing terminator.
      volatile size_t sink = request->commandId + request->commandType + request->kind;
      if (request->context != nullptr) sink = sink + std::strlen(request->context);
      if (request->data != nullptr) sink = sink + std::strlen(request->data);
      (void)sink;
      parser->FreeRequestMsg(request);
    }
    parser->CloseMsg();
  }
  DeleteICSPMsgParserObj(parser);
  return 0;
}
