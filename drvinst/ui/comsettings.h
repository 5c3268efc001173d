// Serial port set-up of the installer: a model's "ComPortSettings" text read
// into a port's configuration, the COM Config button's steps, and the serial
// step of Start that writes the model's defaults after an install. Every
// setting goes through the port's default configuration in the system
// (GetDefaultCommConfigA, CommConfigDialogA, SetDefaultCommConfigA).
#pragma once
#include <windows.h>
#include <stddef.h>
#include <string>

// The configuration record as the three calls receive it: always 52 bytes,
// the same on 32 and 64 bits.
static_assert(sizeof(COMMCONFIG) == 52, "COMMCONFIG layout");
static_assert(offsetof(COMMCONFIG, dcb) == 8, "COMMCONFIG layout");
static_assert(sizeof(DCB) == 28, "DCB layout");
const DWORD COMCONFIG_SIZE = 52;

// Writes the fields of pszSettings (baud rate, data bits, parity E/O,
// stop bits 2, flow control H/X; comma-separated, at most 255 characters
// read) into pConfig->dcb. Absent fields and every other DCB field keep their
// values; NULL, an empty text or an empty first field change nothing.
void ApplyComPortSettings(const char *pszSettings, COMMCONFIG *pConfig);

enum ComConfigResult {
    COMCONFIG_SAVED,       // the user's configuration is stored as the port's default
    COMCONFIG_CANCELLED,   // the user cancelled the system dialog: nothing changed
    COMCONFIG_FAILED,      // a call failed: *pstrError holds the text to show
};

// The COM Config button: pszPort is the current port text ("COM1:"; cut at
// its first colon, case kept), pszSettings the model's "ComPortSettings" (NULL
// or empty: none). Reads the port's default configuration, applies the
// settings, shows the system's serial dialog (no owner) and stores the
// result. On COMCONFIG_FAILED *pstrError is the last call's text, e.g.
// "::CommConfigDialog([COM1]) R 0 E 87", no line end; otherwise untouched.
// The caller sets m_bComConfigured on SAVED, and on FAILED shows the text and
// closes the dialog with IDCANCEL.
ComConfigResult RunComConfig(const char *pszPort, const char *pszSettings, std::string *pstrError);

// The serial step of Start, after Excecute succeeded. pConfig is always
// zero-filled first. Only with bInstall (the action is Install) and
// bComEnabled (COM Config is enabled, so the port is a COM port): reads the
// default configuration of pszPort (upper-cased, cut at its first colon)
// and, unless bConfigured (the user saved one with COM Config), applies
// pszSettings and stores it. pConfig then holds the port's configuration for
// the completion dialog (dwSize 0 when the step did not run). FALSE on a
// failed call with *pstrError set as for RunComConfig; the caller shows it
// and closes the dialog with IDCANCEL.
BOOL SetComDefaults(const char *pszPort, const char *pszSettings, BOOL bInstall, BOOL bComEnabled,
                    BOOL bConfigured, COMMCONFIG *pConfig, std::string *pstrError);
