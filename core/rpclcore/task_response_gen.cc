#include "core/rpclcore/task_response_gen.h"

#include "core/common/aglog.h"
#include "core/rpclcore/core_notification.h"
#include "core/siblings/siblings.h"

ICAResponseGen* CreateTaskResponseGen(const char* routine) {
  ICAResponseGen* respGen = nullptr;
  if (!Siblings().resp->CreateCAResponseGenObjNew(&respGen, NotifyClientCoreForRpTask) || respGen == nullptr) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "CreateCAResponseGenObjNew failed");
    return nullptr;
  }
  if (!respGen->Init()) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "RespGen init failed");
    if (!Siblings().resp->DeleteCAResponseGenObj(respGen)) {
      AGLOG_AS(routine, AG_LOG_FAILURE, "DeleteCAResponseGenObj failed");
    }
    return nullptr;
  }
  return respGen;
}

void DeleteTaskResponseGen(ICAResponseGen* respGen, const char* routine) {
  if (respGen == nullptr) return;
  if (!respGen->Deinit()) AGLOG_AS(routine, AG_LOG_FAILURE, "RespGen Deinit failed");
  if (!Siblings().resp->DeleteCAResponseGenObj(respGen)) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "DeleteCAResponseGenObj failed");
  }
}
