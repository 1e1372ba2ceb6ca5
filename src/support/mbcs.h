// What the text routines (the PATH entry, the argument text, the WININIT.INI line) need from
// support: the multibyte helpers and the log call. Nothing declared here opens a file, a key or a
// window, so those routines also build natively for the sanitizer run in tests/host/, where a
// small header of that tree gives the integer types, the code page's lead bytes and a log that
// records in memory instead of <windows.h> and MorSetup.log.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "HostText.h"
#endif

#include <stddef.h>

// Formats the message printf-style (%s, %d, %02d and %I64u among others) and appends it to the
// log after a time prefix. Writes the Start banner and the date line before the first message
// of the process. Never fails towards the caller: a message that cannot be written is lost.
void WriteLog(const char* pszFormat, ...);

// ---------------------------------------------------------------------------------------------
// Multibyte rules of the ANSI code page. A lead byte and its trail byte form one character; a
// match never starts on a trail byte, and upper-casing leaves double-byte characters alone.

// The character after the one psz points at: two bytes on for a lead byte with its trail byte,
// else one. A lead byte just before the string's NUL counts as a character of its own.
const char* MbsNext(const char* psz);
inline char* MbsNext(char* psz)
{
    return (char*)MbsNext((const char*)psz);
}

// TRUE when the byte at pszStr[nIndex] is the trail byte of a double-byte character.
BOOL MbsIsTrailByte(const char* pszStr, size_t nIndex);

// First occurrence of pszFind in pszStr that starts on a character boundary, or NULL.
char* MbsStr(const char* pszStr, const char* pszFind);

// First and last occurrence of the single-byte character ch, on character boundaries, or NULL.
char* MbsChr(const char* pszStr, char ch);
char* MbsRChr(const char* pszStr, char ch);

// Upper-cases the single-byte characters of pszStr in place; the length never changes.
void MbsUpper(char* pszStr);

// Bounded copy that always terminates: copies at most cchDest - 1 bytes and never splits a
// double-byte character. Returns FALSE when the source had to be cut.
BOOL MbsCopy(char* pszDest, size_t cchDest, const char* pszSrc);
