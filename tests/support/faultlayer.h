// Makes one Win32 call of this program fail: the spooler, registry, file and
// access-list calls a statically linked engine makes through the program's
// own import table. While armed, the layer counts each call it stands in
// for and makes call number n fail with its documented failure value and
// ERROR_NO_SYSTEM_RESOURCES (as last error, and as the status of the calls
// that return one); unarmed, every call passes on unchanged and uncounted.
// Calls on the log file (a name ending in "kztdebug.txt") and on its handles
// are never counted: they are the log's, not the engine's.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

/* Points this program's imports at the layer's wrappers; once, before the
 * first FaultArm. Returns the names of the calls the program does not import
 * (they are not swept). */
std::vector<std::string> FaultLayerInstall();

/* Counts calls from now on; call number nFailAt (1-based) fails, none when
 * nFailAt is 0. Clears the previous run's trace. */
void FaultArm(int nFailAt);

/* Stops counting; the number of calls counted since FaultArm. */
int FaultDisarm();

/* The calls counted by the last armed run, in order, as "dll!name" without
 * the A suffix of the name ("winspool!AddPrinter", "advapi32!RegSetValueEx");
 * the one that failed, or "" when none did. */
const std::vector<std::string> &FaultTrace();
std::string FaultFailedCall();
