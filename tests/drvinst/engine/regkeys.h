// Registry helpers of the engine tests: keys and values under
// HKEY_LOCAL_MACHINE written and read as the test needs them, and a key's
// access list as text (SDDL, "D:NO_ACCESS_CONTROL" for a NULL list).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

bool KeyExists(const std::string &path);
// Creates the key (and its parents); volatile when asked.
bool CreateKey(const std::string &path, bool bVolatile = false);
// Deletes the key and everything below it, opening each access list first.
void DeleteKeyTree(const std::string &path);
std::vector<std::string> SubkeyNames(const std::string &path);

// A value of any type, bytes exactly as given (no terminator added).
bool SetValueBytes(const std::string &path, const char *name, DWORD type, const std::string &bytes);
bool SetValueText(const std::string &path, const char *name, const std::string &text);  // REG_SZ with its NUL
struct RegValue {
    bool found = false;
    DWORD type = 0;
    std::string bytes;
};
RegValue GetValue(const std::string &path, const char *name);

// The key's access list as SDDL ("D:..."), or "" when it cannot be read.
std::string DaclText(const std::string &path);
bool SetDaclText(const std::string &path, const char *sddl);
// Creates the key with an access list that lets everyone read it, delete it
// and change its list, but not write to it; true when a write is then refused.
// (Wine applies a list set after creation; it ignores one given at creation.)
bool CreateReadOnlyKey(const std::string &path);
