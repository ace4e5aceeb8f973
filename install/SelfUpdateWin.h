// The self-update swap's operations on Windows: the platform's, plus the
// clearing of file attributes (read-only, hidden, system) before a delete.
#pragma once
#include "install/logic/SelfUpdate.h"

TSelfUpdateOperations WindowsSelfUpdateOperations();
