// What Wine cannot show of the diagnostic log's file: a reparse point (Wine
// reports a host symbolic link as a plain file and makes none of its own)
// and an open that meets another process's opportunistic lock being broken
// (Wine has no such locks). Installed between a loaded jobtap.dll and the
// native calls it looks up through GetProcAddress: the file system's real
// answers pass through, with the one fact Wine lacks added.
#pragma once
#include <windows.h>

namespace LogFileStandIn {
enum Fact {
    kNone,
    kReparsePoint,      // a link: what jobtap opens naming the link itself carries FILE_ATTRIBUTE_REPARSE_POINT
    kOplockBreaking     // every open jobtap makes reports the break of another's lock in progress
};
// Patches the module's GetProcAddress import (after any other stand-in's).
bool Install(HMODULE hJobtap);
void Set(Fact fact);
}
