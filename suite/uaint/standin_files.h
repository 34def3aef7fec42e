// Where the unified-agent stand-in keeps what it is told and what it writes:
// the folder of the unified agent, as its App Paths entry ("UAAGENT.EXE",
// value "Path") names it, else the folder the library was loaded from.
//
//   uaint.conf         optional settings, one "key=value" a line:
//                        udi=<identifier served by GetUDIFromQA>
//                        passphrase=<the passphrase to expect instead of the
//                                    derived one>
//                        status.<export>=<status that export returns>
//   uaint-calls.jsonl  every call received, one JSON object a line
//
// Any thread may call these; journal lines are appended under one lock.
#pragma once

#include <json/json.h>

#include <map>
#include <string>

namespace uaint {

std::string StandInFolder();
// The settings of uaint.conf; empty when the file is missing.
std::map<std::string, std::string> ReadSettings();
void AppendToJournal(const Json::Value& call);

}  // namespace uaint
