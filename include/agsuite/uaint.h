// The unified agent's integration library ("uaint.dll", libuaint.so here),
// loaded at run time from the unified agent's folder. The core resolves each
// export by name when it needs it; these are the calls it makes.
//
// Statuses are 32-bit, 0 meaning success. Texts are UTF-8 and NUL-terminated.
// A response handed out by "SendData" or "ProcessCommand" belongs to the
// library and goes back through "FreeResponse".
#pragma once

#include <cstdint>

// The client type under which this agent subscribes.
inline constexpr uint32_t kUaClientTypeAgent = 3;
// "GetUDIFromQA" writes at most this many bytes (identifier and NUL) into the
// buffer it is given.
inline constexpr uint32_t kUaUdiBufferSize = 256;
// Command numbers of "ProcessCommand".
inline constexpr uint32_t kUaCommandUpgraded = 1000;
inline constexpr uint32_t kUaCommandUninstalled = 1002;

// Called by the library on a thread of its own choosing with a JSON text.
using PFN_UA_NOTIFICATION_CALLBACK = void (*)(const char* json);

using PFN_UA_SUBSCRIBE_V2 = int32_t (*)(uint32_t clientType, const char* passphrase, const char* productId);
using PFN_UA_UNSUBSCRIBE = int32_t (*)(uint32_t clientType);
using PFN_UA_REGISTER_NOTIFICATION_CALLBACK = void (*)(PFN_UA_NOTIFICATION_CALLBACK callback);
using PFN_UA_PROCESS_COMMAND = int32_t (*)(uint32_t command, const char* json, char** response);
using PFN_UA_SEND_DATA = int32_t (*)(const char* serverUrl, const char* json, char** response);
using PFN_UA_FREE_RESPONSE = void (*)(char* response);
using PFN_UA_GET_UDI = int32_t (*)(char* buffer);

inline constexpr const char* kUaSubscribeV2Export = "SubscribeV2";
inline constexpr const char* kUaUnSubscribeExport = "UnSubscribe";
inline constexpr const char* kUaRegisterNotificationCallbackExport = "RegisterNotificationCallback";
inline constexpr const char* kUaProcessCommandExport = "ProcessCommand";
inline constexpr const char* kUaSendDataExport = "SendData";
inline constexpr const char* kUaFreeResponseExport = "FreeResponse";
inline constexpr const char* kUaGetUdiExport = "GetUDIFromQA";
