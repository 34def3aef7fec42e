// The RP client object: creation, the connection record, re-initialisation
// on settings changes, and release.
#pragma once

#include <agsuite/agmsg.h>

bool CreateRPObject(IRPClient** slot);
bool CreateAndInitializeRpObject(IRPClient** slot, bool alreadyCreated);
bool InitCSConnectionObject(CSConnectionInfo* info);
bool PopulateCSConnectionInfo(CSConnectionInfo* info);
bool ReInitialiseCommunicationObjects(IRPClient** slot);
bool DeInitAndDestroyRpObject(IRPClient* rpClient);
