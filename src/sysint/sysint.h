// System integration: the engine directory published to other programs (AVENGINE and the PATH
// entry), the AUTOEXEC.BAT lines of Windows 95/98 and the companion-product probe.
#pragma once

#include <windows.h>

#include "AutoexecText.h"
#include "PathEntry.h"

// ---------------------------------------------------------------------------------------------
// The engine environment.

// Publishes the long engine directory pszEngPath through AVENGINE and an entry of the system PATH,
// both in its short form: in the registry on the NT family and ME, in C:\AUTOEXEC.BAT on 95/98
// and an unknown platform (where pszProductName decides the boot-time scanner line). Logs every
// outcome; nothing stops the run. An administrator's PATH is never cut or replaced.
void SetRegistryAndService(const char* pszEngPath, const char* pszProductName);

// Takes back what SetRegistryAndService published for the long engine directory pszEngPath (which
// must still exist, its short form names our entries): AVENGINE where it names this directory
// (the OEM form on ME) and the PATH entry as AppendUniquePathEntry recognises it, every other
// entry, their order and the value's type kept; on 95/98 and an unknown platform through
// RemoveAutoexecLines9x. Logs every outcome; nothing stops the run.
void RemoveRegistryAndService(const char* pszEngPath);

// ---------------------------------------------------------------------------------------------
// The PATH entry: AppendUniquePathEntry and RemovePathEntry (PathEntry.h).

// ---------------------------------------------------------------------------------------------
// C:\AUTOEXEC.BAT on Windows 95/98.
//
// The content edits are those of AutoexecText.h; here the file side. The editors handle the file
// as bytes. It is read whole (a file larger than 4 MiB is left alone,
// with a log line) and split into lines at LF; a line keeps its own line-end bytes (CR LF, LF or
// none) and may be of any length and hold any byte, NUL included. DOS stops reading at the first
// Ctrl-Z (0x1A): only the text in front of it is edited, the program's lines go in front of it,
// and the marker and every byte after it are kept as they are. Every other byte of the file is
// kept, in order; the program's own lines are written with CR LF. A file that would not change
// is not written.
//
// The file is never written in place. The new content goes into the work file C:\AUTOEXEC.$$$,
// which then replaces C:\AUTOEXEC.BAT in one rename (MoveFileExA through the seam, with
// MOVEFILE_REPLACE_EXISTING); where MoveFileExA answers ERROR_CALL_NOT_IMPLEMENTED (Windows
// 95/98) the batch file is deleted and the work file renamed. A replacement that fails (a
// read-only batch file, one held open by another program) removes the work file and leaves the
// batch file as it was. At its start every editor settles a work file left by an interrupted
// run: with the batch file present it is an unfinished rewrite and is removed; with the batch
// file missing it is a finished rewrite stopped between deletion and rename, and it is put in
// place (logged) instead of a new file being created. When it cannot be put in place, nothing
// is created over it.

// Removes every line that holds "SET AVENGINE=", "SET AVENGINE =" or "PROBIT.EXE" (with case,
// anywhere in the line, on character boundaries of the ANSI code page) from the text in front of
// the first Ctrl-Z, and closes an open last line of that text with CR LF. Returns 1 when the batch
// file holds the result, 0 when it is missing or cannot be read or replaced (it then keeps its
// content and no work file is left).
int StripAutoexecLines9x();

// Adds ";" and the OEM short path of pszEngPath (the long engine directory) to the end of the
// first PATH line, the first line of the text in front of a Ctrl-Z that begins in its first
// column with "SET PATH", "PATH" or "@PATH" in any letter case. The entry goes in front of the
// line's own line end; a line without LF gets one (CR LF). A PATH line that already holds the
// short path is left as it is, and so is one that with the entry and a line end would exceed
// 2047 characters (logged). Without a PATH line, "PATH=" and the short path are appended without
// a line end, in front of a Ctrl-Z, after closing an open last line with CR LF. A missing file is
// created with "PATH=" and the short path and CR LF. Returns 0 when the batch file was missing
// (created or not) or cannot be read, or the work file cannot be created; else 1, also when the
// short path is unobtainable (nothing changes) or the final replacement fails (logged).
int AddMorEngPath9x(const char* pszEngPath);

// The Windows 95/98 (and unknown platform) branch of the engine environment: AVENGINE and the
// boot-time scanner line in C:\AUTOEXEC.BAT, then the PATH entry. A missing file is created with
// both lines and "PATH=" and the short path, written in one piece; in an existing file the old
// lines are removed, the new ones added and the PATH entry added as AddMorEngPath9x adds it, in
// one rewrite, the scanner line only when ShouldAddBootScan (pszProductName) says yes. Where that
// rewrite cannot be made, AddMorEngPath9x tries on the file as it is. Every outcome is logged, as
// the two steps of the lines and the PATH entry; nothing stops the run.
void SetAutoexecLines9x(const char* pszEngPath, const char* pszProductName);

// Takes the program's lines out of C:\AUTOEXEC.BAT again, through the work file as every edit:
// the lines "SET AVENGINE=<S>" and "<S>\PROBIT.EXE" as written (S the OEM short path of
// pszEngPath), the entry ";<S>" of the first PATH line (NUL bytes in it too), or that line itself
// when it is "PATH=<S>" as the editor appends it (RemoveAutoexecText). Every other byte, the user's
// lines, their line ends and what follows a Ctrl-Z, stays. A file that would not change is not
// written. Returns 1 when the batch file holds the result (or there is none), 0 when it could not
// be read or replaced.
int RemoveAutoexecLines9x(const char* pszEngPath);

// Fills szOemPath (MAX_PATH) with the short form of pszEngPath in the OEM code page. Returns FALSE
// and an empty text when the platform gives no short path or one that does not fit.
BOOL GetOemShortPath(const char* pszEngPath, char* szOemPath);

// ---------------------------------------------------------------------------------------------
// The companion-product probe. The probes initialise COM for the thread and leave no COM state
// behind; every failure answers 0 and nothing is logged.

// 1 when the boot-time scanner line belongs in C:\AUTOEXEC.BAT: the product is Morvelin (in any
// letter case), the run has the default arguments, or one of the companion components answers.
// Component B is asked only when component A says no.
int ShouldAddBootScan(const char* pszProductName);

// 1 when companion component A is registered and reports a list with at least one element.
int ProbeCompanionA();

// 1 when companion component B is registered and its query succeeds (S_FALSE too).
int ProbeCompanionB();
