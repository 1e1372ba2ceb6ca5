// The little the text routines take from the platform, for their native sanitizer build: the
// integer types, the code page's lead bytes and the upper-casing of one single-byte character.
// Only the text routines (src/support/mbcs.h and the headers that include it) see this file;
// nothing here stands in for a file, the registry or a window. The code page is chosen per test:
// 932 (double-byte, lead bytes 0x81-0x9F and 0xE0-0xFC) or 1252 (single-byte).
#pragma once

#include <stdint.h>

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint32_t DWORD;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

// Selects the code page of the lead-byte test and the upper-casing: 932 or 1252.
void HostSetCodePage(unsigned uCodePage);
unsigned HostCodePage();

BOOL IsDBCSLeadByte(BYTE bTest);

// Upper-cases cch single-byte characters of the code page in place, as the platform call does for
// the bytes the multibyte helpers hand it (never a lead byte).
DWORD CharUpperBuffA(char* psz, DWORD cch);

// The log sink: WriteLog formats each message as the program does and appends it to a bounded
// buffer, dropping what does not fit. HostLogText is that buffer, always terminated.
void HostLogClear();
const char* HostLogText();
