// One operation of an INF at a time (engine/inflock.cpp).
#pragma once
#include "installcontext.h"

HANDLE LockInf(CInstallContext &ctx);
void UnlockInf(CInstallContext &ctx, HANDLE hLock);
