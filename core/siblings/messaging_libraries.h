// How the core reaches the four messaging libraries: their factory and
// life-cycle exports. The objects they hand out (ICSPMsgGen, ICSPMsgParser,
// ICAResponseGen, IRPClient) are used through their own operations.
#pragma once

#include <agsuite/agmsg.h>

class IMessageGeneratorLibrary {
 public:
  virtual ~IMessageGeneratorLibrary() = default;
  virtual uint8_t CreateICSPMsgGenObj(ICSPMsgGen** ppObj) = 0;
  virtual uint8_t DeleteICSPMsgGenObj(ICSPMsgGen* pObj) = 0;
};

class IMessageParserLibrary {
 public:
  virtual ~IMessageParserLibrary() = default;
  virtual uint8_t CreateICSPMsgParserObj(ICSPMsgParser** ppObj) = 0;
  virtual uint8_t DeleteICSPMsgParserObj(ICSPMsgParser* pObj) = 0;
};

class IResponseGeneratorLibrary {
 public:
  virtual ~IResponseGeneratorLibrary() = default;
  virtual uint8_t CreateCAResponseGenObjNew(ICAResponseGen** ppObj, PFN_NOTIFY_CLIENT_CORE callback) = 0;
  virtual uint8_t DeleteCAResponseGenObj(ICAResponseGen* pObj) = 0;
  virtual uint8_t HandleClientAgentCoreStartup(PFN_NOTIFY_CLIENT_CORE callback) = 0;
  virtual uint8_t HandleClientAgentCoreCleanup() = 0;
  virtual uint8_t StopAvMessageHandlerThread() = 0;
};

class ITransportLibrary {
 public:
  virtual ~ITransportLibrary() = default;
  virtual uint8_t CreateCSClientObject(ICSClient** ppCsClient, uint32_t* pdwError) = 0;
  virtual uint8_t CreateRPClientObject(ICSClient* pCsClient, IRPClient** ppRpClient, uint32_t* pdwError,
                                       uint8_t onPrem) = 0;
  virtual uint8_t FreeRPClientObject(IRPClient* pRpClient, uint32_t* pdwError) = 0;
};
