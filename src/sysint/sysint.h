// System integration: the engine directory published to other programs (AVENGINE and the PATH
// entry), the AUTOEXEC.BAT lines of Windows 95/98 and the companion-product probe.
#pragma once

#include <windows.h>

#include "PathEntry.h"

// ---------------------------------------------------------------------------------------------
// The engine environment.

// Publishes the long engine directory pszEngPath through AVENGINE and an entry of the system PATH,
// both in its short form: in the registry on the NT family and ME, in C:\AUTOEXEC.BAT on 95/98
// and an unknown platform (where pszProductName decides the boot-time scanner line). Logs every
// outcome; nothing stops the run. An administrator's PATH is never cut or replaced.
void SetRegistryAndService(const char* pszEngPath, const char* pszProductName);

// ---------------------------------------------------------------------------------------------
// The PATH entry: AppendUniquePathEntry (PathEntry.h).

// ---------------------------------------------------------------------------------------------
// C:\AUTOEXEC.BAT on Windows 95/98. Both editors read and write in text mode (CR LF in the file).

// Removes every line that holds "SET AVENGINE=", "SET AVENGINE =" or "PROBIT.EXE" (with case).
// Works from a fresh copy of the batch file in C:\AUTOEXEC.$$$, replacing any work file that an
// interrupted run left. Returns 1 when the file was rewritten, 0 when the work copy could not be
// made or either file could not be opened (the batch file then keeps its content).
int StripAutoexecLines9x();

// Adds the OEM short path of pszEngPath (the long engine directory) to the first PATH line of the
// batch file, or appends a PATH line when there is none; creates the file when it is missing.
// Returns 0 when the batch file cannot be opened or created or the work file cannot be created,
// else 1.
int AddMorEngPath9x(const char* pszEngPath);

// The Windows 95/98 (and unknown platform) branch of the engine environment: AVENGINE and the
// boot-time scanner line in C:\AUTOEXEC.BAT, then the PATH entry. A missing file is created with
// both lines; in an existing file the old lines are replaced and the scanner line is added only
// when ShouldAddBootScan (pszProductName) says yes. Every outcome is logged; nothing stops the run.
void SetAutoexecLines9x(const char* pszEngPath, const char* pszProductName);

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
