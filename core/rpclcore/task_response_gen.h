// The response generator a report upload or a policy fetch uses for its whole
// run on a task-performer thread: made with the core's notification callback,
// initialised, and de-initialised and deleted at the end. Failures are logged
// under the name of the routine that asked (`routine`).
#pragma once

#include <agsuite/agmsg.h>

// Null when the generator could not be made or initialised (a generator that
// was made but not initialised is deleted again).
ICAResponseGen* CreateTaskResponseGen(const char* routine);
void DeleteTaskResponseGen(ICAResponseGen* respGen, const char* routine);
