// The generator of the deployment stress tests: random FileList.ini files and package and engine
// directories on disk, and the guard around them that must come out of every case unchanged.
#pragma once

#include "PassFixture.h"
#include "StressGen.h"

#include "deploy/deploy.h"

#include <ctype.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace stress
{

// File names the cases place on disk, in the package and in the engine directory.
static const char* const s_apszPlainNames[] = {
    "Osk32dll.dll", "Osk64dll.dll", "Osksig.da0", "Osksig.dat", "Brine.dll",  "Brine64.dll",
    "Brin.da1",     "Brin.dat",     "Morcmd.exe", "Morcmd.dat", "MorSig.vxd", "salvor.exe",
    "Probit.exe",   "Common.dll",   "a.txt",      "morcmd.EXE", "x000"};

// Names that point elsewhere: above or beside the engine directory, another drive, a share, the
// device namespace, an alternate stream, a device.
static const char* const s_apszEscapingNames[] = {"..\\bait.dll",
                                                  "..\\..\\bait.dll",
                                                  "..\\..\\..\\bait.dll",
                                                  "..\\sibling\\bait.dll",
                                                  "..\\pkg\\Common.dll",
                                                  "sub\\..\\..\\bait.dll",
                                                  "sub/../../bait.dll",
                                                  ".. \\bait.dll",
                                                  "...\\bait.dll",
                                                  "..",
                                                  ".",
                                                  "C:\\bait.dll",
                                                  "C:\\Windows\\bait.dll",
                                                  "c:bait.dll",
                                                  "\\bait.dll",
                                                  "/bait.dll",
                                                  "\\\\server\\share\\bait.dll",
                                                  "\\\\?\\C:\\bait.dll",
                                                  "\\\\.\\C:\\bait.dll",
                                                  "Common.dll:stream",
                                                  "Common.dll::$DATA",
                                                  "NUL",
                                                  "nul.dll",
                                                  "Con",
                                                  "aux.txt",
                                                  "COM1",
                                                  "lpt1.dll",
                                                  "PRN .dll",
                                                  "CONOUT$",
                                                  "sub\\NUL"};

// Names that stay inside but are odd: subdirectories, wildcards, trailing dots and blanks,
// directories, the manifest itself.
static const char* const s_apszOddNames[] = {"sub\\Common.dll",
                                             "sub\\",
                                             "sub",
                                             "*.dll",
                                             "?",
                                             "Osk*.d??",
                                             "Common.dll.",
                                             "Common.dll . ",
                                             "  ",
                                             "\"Common.dll\"",
                                             "FileList.ini",
                                             "a\tb.txt",
                                             "\x01.dll",
                                             "COM10",
                                             "NULL.dll",
                                             "conx",
                                             "x000000"};

// One entry's file name: mostly names on disk, then the escaping and odd ones, and random text
// up to beyond the 259 bytes a value is read into.
inline std::string RandomEntryName(Rng& rng)
{
    switch (rng.Below(11))
    {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
        return rng.Pick(s_apszPlainNames);
    case 6:
    case 7:
        return rng.Pick(s_apszEscapingNames);
    case 8:
        return rng.Pick(s_apszOddNames);
    case 9:
    {
        // Around the limits: 250 characters and more, some past the reader's buffer.
        size_t cch = rng.Percent(50) ? rng.Range(240, 270) : rng.Range(270, 700);
        std::string str = rng.Percent(30) ? "..\\" : "";
        str += std::string(cch, (char)rng.Range('a', 'z'));
        return str + ".dll";
    }
    default:
    {
        std::string str;
        size_t cch = rng.Range(0, 30);
        while (str.size() < cch)
        {
            uint32_t u = rng.Below(10);
            if (u == 0)
                str += (char)rng.Range(1, 31);
            else if (u == 1)
                str += (char)rng.Range(0x80, 0xFF);
            else if (u == 2)
                str += rng.Percent(50) ? "\\" : "..";
            else
                str += rng.Printable(1, "\r\n");
        }
        return str;
    }
    }
}

// A random FileList.ini: the three sections and others, in other case, twice, or broken; keys
// of any length (a key list past its 260 bytes), repeated keys, empty keys and values, comments
// and lines without "=".
inline std::string RandomManifest(Rng& rng)
{
    static const char* const s_apszHeaders[] = {
        "[FILES]", "[OSKA]",  "[BRIN]",  "[files]",  "[Oska]", "[bRIN]",
        "[OTHER]", "[FILES",  "FILES]",  "[ OSKA ]", "[Path]", "[]",
        "[BRIN]",  "[OSKA]x", "[FILES]", "[OSKA]",   "[BRIN]", "[FILES];c"};
    const char* pszEol = rng.Percent(80) ? "\r\n" : "\n";
    std::string str;
    if (rng.Percent(5))
        str += "\xEF\xBB\xBF";
    uint32_t nSections = rng.Range(0, 5);
    for (uint32_t s = 0; s < nSections; s++)
    {
        if (rng.Percent(3))
            str += "[" + std::string(rng.Range(250, 400), 'S') + "]";
        else
            str += rng.Pick(s_apszHeaders);
        str += pszEol;
        uint32_t nEntries = rng.Percent(5) ? rng.Range(60, 140) : rng.Range(0, 10);
        std::string strLastKey = "1";
        for (uint32_t e = 0; e < nEntries; e++)
        {
            std::string strKey;
            switch (rng.Below(12))
            {
            case 0:
                strKey = std::string(rng.Range(250, 400), 'k');
                break;
            case 1:
                strKey = strLastKey;
                break;
            case 2:
                strKey = "";
                break;
            case 3:
                strKey = " K" + std::to_string(e) + " ";
                break;
            case 4:
                strKey = "k" + std::to_string(e);
                for (char& ch : strKey)
                    ch = (char)toupper(ch);
                break;
            default:
                strKey = nEntries > 50 ? std::to_string(e % 100) : "k" + std::to_string(e);
                break;
            }
            strLastKey = strKey;
            switch (rng.Below(20))
            {
            case 0:
                str += ";" + strKey + "=" + RandomEntryName(rng);
                break;
            case 1:
                str += strKey;
                break;
            case 2:
                str += strKey + "=";
                break;
            default:
                str += strKey + (rng.Percent(20) ? " = " : "=") + RandomEntryName(rng);
                break;
            }
            str += rng.Percent(3) ? "\r" : pszEol;
        }
    }
    if (rng.Percent(5))
        str += std::string("\0junk\0", 6);
    return str;
}

// What a directory tree holds: relative path -> bytes and last-write time ("<dir>" for a
// directory).
struct TREE_ITEM
{
    std::string strData;
    FILETIME ftWrite;
    bool operator==(const TREE_ITEM& o) const
    {
        return strData == o.strData && ftWrite.dwLowDateTime == o.ftWrite.dwLowDateTime &&
               ftWrite.dwHighDateTime == o.ftWrite.dwHighDateTime;
    }
};
typedef std::map<std::string, TREE_ITEM> TREE;

// Reads the tree below strDir into *pTree under strRel; the directory strSkip (full path, any
// case) is left out.
inline void SnapshotTree(const std::string& strDir, const std::string& strRel,
                         const std::string& strSkip, TREE* pTree)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strDir + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do
    {
        std::string strName = fd.cFileName;
        if (strName == "." || strName == "..")
            continue;
        std::string strPath = strDir + "\\" + strName;
        std::string strKey = strRel.empty() ? strName : strRel + "\\" + strName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            if (lstrcmpiA(strPath.c_str(), strSkip.c_str()) == 0)
                continue;
            (*pTree)[strKey + "\\"] = TREE_ITEM{"<dir>", {0, 0}};
            SnapshotTree(strPath, strKey, strSkip, pTree);
        }
        else
        {
            (*pTree)[strKey] = TREE_ITEM{harness::ReadFileBytes(strPath), fd.ftLastWriteTime};
        }
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
}

// The first difference between two trees, "" when they are equal.
inline std::string TreeDifference(const TREE& before, const TREE& after)
{
    for (const auto& item : before)
    {
        auto it = after.find(item.first);
        if (it == after.end())
            return "removed: " + item.first;
        if (!(it->second == item.second))
            return "changed: " + item.first;
    }
    for (const auto& item : after)
        if (before.find(item.first) == before.end())
            return "created: " + item.first;
    return "";
}

// Removes everything inside strDir but the directory itself (it may be the current directory).
inline void EmptyDirectory(const std::string& strDir)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strDir + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> names;
    do
    {
        std::string strName = fd.cFileName;
        if (strName != "." && strName != "..")
            names.push_back(strName);
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    for (const auto& strName : names)
        harness::DeleteTree(strDir + "\\" + strName);
}

inline std::wstring Widen(const std::string& str)
{
    std::wstring wstr(str.size() + 1, L'\0');
    int n =
        MultiByteToWideChar(CP_ACP, 0, str.c_str(), (int)str.size(), &wstr[0], (int)wstr.size());
    wstr.resize(n > 0 ? (size_t)n : 0);
    return wstr;
}

inline bool StartsWithNoCase(const std::string& str, const std::string& strPrefix)
{
    return str.size() >= strPrefix.size() &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, str.c_str(),
                          (int)strPrefix.size(), strPrefix.c_str(),
                          (int)strPrefix.size()) == CSTR_EQUAL;
}

} // namespace stress
