// A queue configured as an administrator does, and everything a reinstall
// must keep of it read back, for the upgrade cases and the package test.
#pragma once
#include <string>

class QueueStandIn;

// Gives the queue a setting of every kind an administrator may change: share
// name and sharing, comment, location, separator file, parameters,
// priorities, hours, a device mode with 3 copies, three printer data values
// and, withSecurity, an access list of its own (through SetPrinter level 3,
// which only the stand-in answers under Wine). false when a call failed.
bool ConfigureQueue(const char *queue, bool withSecurity);

// The queue's settings, one line per field (standIn, when given, for the
// access list); "(no queue)" when it cannot be opened.
std::string QueueSettings(const char *queue, const QueueStandIn *standIn);
