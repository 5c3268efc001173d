// Texts the engine composes or reads: paths and names in its fixed buffers,
// and the numbers of an INF's flags fields.
#pragma once
#include "installcontext.h"

/* Formats a path or name into pszOut (cbOut bytes; the engine passes its
 * 256-byte buffers). Text that does not fit is never cut: FALSE, pszOut
 * empty, after the error line "<pszOwner>() Length [<the whole text>]\r\n".
 * The thread's last error is kept. */
BOOL FormatPath(CInstallContext &ctx, char *pszOut, size_t cbOut, const char *pszOwner, const char *pszFormat, ...);

/* The number at the start of an INF field, decimal or, after "0x" (or
 * "0X"), hexadecimal: "16" and "0x10" both read as 16. Blanks skipped,
 * reading stops at the first character that is no digit; NULL or no digits
 * read as 0, a number beyond 32 bits as 0xFFFFFFFF. *ppszRest, when given,
 * receives where reading stopped (NULL for a NULL field). */
DWORD ReadFieldNumber(const char *pszField, const char **ppszRest = NULL);
