// The helper library of the FILTER_DEP sample filter: its only import.
#include <windows.h>

extern "C" __declspec(dllexport) BYTE KztDepKey(void)
{
    return 0x5A;
}
