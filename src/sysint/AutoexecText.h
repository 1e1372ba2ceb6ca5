// The byte edits of C:\AUTOEXEC.BAT on their own: pure work over buffers the caller owns (the heap
// buffers of Autoexec.cpp), kept apart from the file side so that they also build natively for
// the sanitizer run and the fuzzers in tests/host/. Other folders reach them through sysint.h.
//
// The content is bytes. It is split into lines at LF, each line keeping its own line-end bytes
// (CR LF, LF, CR CR LF or none); a line may be of any length and hold any byte, NUL included.
// DOS stops reading at the first Ctrl-Z: only the text in front of it is edited, the engine's
// lines go in front of it, and the marker and every byte after it are kept as they are. The
// engine's lines are written with CR LF. Every search follows the multibyte rules of the ANSI
// code page: a lead byte and the non-NUL byte after it are one character.
#pragma once

#include "../support/mbcs.h"

// A PATH line is edited while it, the entry and a line end fit in the 2047 characters the editor
// has always taken (its line end counted as one); a longer one is left as it is.
#define AUTOEXEC_PATH_LINE_MAX 2047

// What an edit returns when its output would not fit the room it was given: never with the room
// each edit asks for below. Such an output must not be written anywhere.
#define AUTOEXEC_NO_ROOM ((size_t)-1)

// ---------------------------------------------------------------------------------------------
// The engine's lines, all naming the engine directory by its OEM short path pszOemPath. Written
// into szLine (cchLine bytes, cut and always terminated there) with pszEnd as the line end: CR LF
// in the file, "\n" in the log, "" to compare a line's content. pszOemPath is shorter than
// MAX_PATH, here and in every edit below.

enum
{
    AUTOEXEC_AVENGINE_LINE, // SET AVENGINE=<S>
    AUTOEXEC_PROBIT_LINE,   // <S>\PROBIT.EXE, the boot-time scanner
    AUTOEXEC_PATH_LINE,     // PATH=<S>, appended where the file has no PATH line
};

void FormatAutoexecLine(int nLine, const char* pszOemPath, const char* pszEnd, char* szLine,
                        size_t cchLine);

// The engine's lines of any install, this one's, a former one's or another directory's, hold one
// of the texts "SET AVENGINE=", "SET AVENGINE =" or "PROBIT.EXE" (with letter case, anywhere in
// the line, on a character boundary). Of those, the lines of this engine directory are exactly
// (their line end taken off) the AVENGINE line or the scanner line as FormatAutoexecLine makes
// them. The install takes out the former, the removal the latter only.

// ---------------------------------------------------------------------------------------------
// The edits. Each reads pbIn[0, cbIn) and writes the new content to pbOut, which must not
// overlap it and has cbOutMax bytes; each returns the size of the new content, or
// AUTOEXEC_NO_ROOM.

// Takes every engine's line out of the text, closes an open last line with CR LF, and appends
// pszAppend (lines with CR LF, or NULL) in front of the Ctrl-Z. Needs cbIn + 2 +
// strlen(pszAppend) bytes.
size_t StripAutoexecText(const char* pbIn, size_t cbIn, const char* pszAppend, char* pbOut,
                         size_t cbOutMax);

// What AddAutoexecPathEntry did, for LogAutoexecPathEdit.
enum
{
    AUTOEXEC_PATH_APPENDED, // no PATH line: "PATH=<S>" appended
    AUTOEXEC_PATH_HELD,     // the PATH line holds the directory already
    AUTOEXEC_PATH_TOO_LONG, // the PATH line with the entry would be too long: left as it is
    AUTOEXEC_PATH_EXTENDED, // ";<S>" added to the PATH line
};

struct AUTOEXEC_PATH_EDIT
{
    int nResult;   // AUTOEXEC_PATH_*
    size_t iLine;  // the PATH line in pbIn, where there is one
    size_t cbLine; // its length with its line end
};

// The room AddAutoexecPathEntry needs beyond the input's size.
#define AUTOEXEC_PATH_ROOM(cchOemPath) ((cchOemPath) + 7)

// Adds ";" and pszOemPath to the end of the first PATH line: the first line of the text that
// begins in its first column with "SET PATH", "PATH" or "@PATH" in any letter case. The entry goes
// in front of the line's own line end; a line without LF gets one (after its CRs, or CR LF). A
// PATH line that already holds the directory as a whole entry (behind "=", a blank, a tab or ";",
// and before ";", a blank, a tab or the end) is kept, and so is one that would exceed
// AUTOEXEC_PATH_LINE_MAX. Without a PATH line "PATH=" and the short path are appended without a
// line end, in front of a Ctrl-Z, after closing an open last line with CR LF. Logs nothing: what
// it did goes to *pEdit. Needs cbIn + AUTOEXEC_PATH_ROOM(strlen(pszOemPath)) bytes.
size_t AddAutoexecPathEntry(const char* pbIn, size_t cbIn, const char* pszOemPath, char* pbOut,
                            size_t cbOutMax, AUTOEXEC_PATH_EDIT* pEdit);

// Logs the PATH line before and after the edit that AddAutoexecPathEntry made of pbIn, as the
// editor always has: nothing for an appended line or one that holds the directory.
void LogAutoexecPathEdit(const char* pbIn, const AUTOEXEC_PATH_EDIT* pEdit, const char* pszOemPath);

// Takes this engine directory's lines back out (only those: a line of the user's that merely
// holds an engine text or the directory stays), the whole entries ";<S>" of
// the first PATH line as RemovePathEntry recognises them (a line longer than
// AUTOEXEC_PATH_LINE_MAX is kept as it is: the editor never added to one), or that line itself
// where it is exactly "PATH=<S>". Logs each line and entry it takes. Needs cbIn bytes.
size_t RemoveAutoexecText(const char* pbIn, size_t cbIn, const char* pszOemPath, char* pbOut,
                          size_t cbOutMax);
