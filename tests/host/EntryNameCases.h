// The manifest's entry names (src/deploy/EntryName.h) on generated or fuzzed names, for the
// native stress test and the fuzz target: a name that the guards let through, joined to the
// engine directory, never leaves it, never names a device, and the join never writes past its
// MAX_PATH bytes.
#pragma once

#include "StressCases.h"
#include "deploy/EntryName.h"

#include <string>
#include <vector>

namespace stress
{

// TRUE when the byte at nAt of strText is the trail byte of a double-byte character.
inline bool IsTrailByteAt(const std::string& strText, size_t nAt)
{
    size_t i = 0;
    while (i < nAt)
        i += CharLength(strText.c_str() + i);
    return i != nAt;
}

// The components of strPath split at "\" and "/" on character boundaries.
inline std::vector<std::string> PathComponents(const std::string& strPath)
{
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < strPath.size();)
    {
        size_t cch = CharLength(strPath.c_str() + i);
        if (cch == 1 && (strPath[i] == '\\' || strPath[i] == '/'))
            parts.emplace_back();
        else
            parts.back() += strPath.substr(i, cch);
        i += cch;
    }
    return parts;
}

// The name the platform opens for a component: its trailing dots and blanks dropped.
inline std::string OpenedName(const std::string& strComp)
{
    size_t cch = strComp.size();
    while (cch > 0 && (strComp[cch - 1] == '.' || strComp[cch - 1] == ' '))
        cch--;
    return strComp.substr(0, cch);
}

// TRUE when the platform reads the component as a device: its part in front of the first dot,
// trailing blanks dropped, is a device name in any letter case.
inline bool IsDeviceName(const std::string& strComp)
{
    std::string strBase = strComp.substr(0, strComp.find('.'));
    while (!strBase.empty() && strBase.back() == ' ')
        strBase.pop_back();
    for (char& ch : strBase)
        if (ch >= 'a' && ch <= 'z')
            ch = (char)(ch - 'a' + 'A');
    for (const char* psz : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (strBase == psz)
            return true;
    return strBase.size() == 4 &&
           (strBase.compare(0, 3, "COM") == 0 || strBase.compare(0, 3, "LPT") == 0) &&
           strBase[3] >= '1' && strBase[3] <= '9';
}

// Joins strName (no NUL inside) to strDir with pszSuffix and checks the join and, for a name the
// guards take, where the path leads.
inline std::string EntryNameFault(const std::string& strDir, const std::string& strName,
                                  const char* pszSuffix)
{
    const std::string strWhere = " for [" + strName + "] in [" + strDir + "]";
    std::vector<char> out(MAX_PATH, '\x7f');
    const BOOL bJoined = JoinEntryPath(out.data(), strDir.c_str(), strName.c_str(), pszSuffix);
    const bool bSep =
        strDir.empty() || strDir.back() != '\\' || IsTrailByteAt(strDir, strDir.size() - 1);
    const std::string strWant =
        strDir + (bSep ? "\\" : "") + strName + (pszSuffix ? pszSuffix : "");
    if (!memchr(out.data(), '\0', out.size()))
        return "the joined path is not terminated within MAX_PATH" + strWhere;
    const std::string strJoined(out.data());
    if (bJoined != (strWant.size() < MAX_PATH))
        return std::string(bJoined ? "joined" : "refused") + " a path of " +
               std::to_string(strWant.size()) + " bytes" + strWhere;
    if (strJoined != (bJoined ? strWant : std::string()))
        return "joined [" + strJoined + "]" + strWhere;

    const bool bContained = IsContainedFileName(strName.c_str()) != FALSE;
    const bool bPlain = IsPlainFileName(strName.c_str()) != FALSE;
    if (bPlain && !bContained)
        return "a plain name that is not contained" + strWhere;
    if (!bContained)
        return "";
    // Inside the directory: no drive, no root, no step up or in place, no device.
    std::vector<std::string> parts = PathComponents(strName + (pszSuffix ? pszSuffix : ""));
    if (parts[0].empty() && parts.size() > 1)
        return "a name from the root was taken" + strWhere;
    for (const std::string& strComp : parts)
    {
        if (strComp.find_first_not_of(". ") == std::string::npos &&
            strComp.find('.') != std::string::npos)
            return "a component [" + strComp + "] that opens as [" + OpenedName(strComp) +
                   "] was taken" + strWhere;
        for (size_t i = 0; i < strComp.size(); i += CharLength(strComp.c_str() + i))
            if (strComp[i] == ':')
                return "a colon was taken" + strWhere;
        if (IsDeviceName(strComp))
            return "the device [" + strComp + "] was taken" + strWhere;
    }
    if (bPlain)
    {
        if (strName.empty() || parts.size() > 1)
            return "a plain name with a directory part" + strWhere;
        for (size_t i = 0; i < strName.size(); i += CharLength(strName.c_str() + i))
            if ((BYTE)strName[i] < ' ' || strchr("<>\"|?*", strName[i]))
                return "a plain name with a character no file name holds" + strWhere;
    }
    return "";
}

// A random name of the pieces that climb, name a device, name a drive or fill the path, with
// double-byte characters, lone lead bytes and control bytes when bDoubleByte.
inline std::string RandomEntryName(Rng& rng, bool bDoubleByte)
{
    static const char* const s_apszPieces[] = {
        "..",     ".",       " ",   "\\",   "/", ":",         "NUL", "con", "Com1", "lpt9", "LPT0",
        "CONIN$", "conout$", "aux", ".dll", ".", "Brine.dll", "a",   "x",   "000",  "C:",   "prn "};
    std::string str;
    const size_t nPieces = rng.Range(0, 10);
    for (size_t i = 0; i < nPieces; i++)
    {
        switch (rng.Below(5))
        {
        case 0:
        case 1:
        case 2:
            str += rng.Pick(s_apszPieces);
            break;
        case 3:
            if (bDoubleByte)
                str += rng.Percent(20) ? std::string(1, (char)0x83) : DoubleByteChar(rng);
            else
                str += (char)rng.Range(1, 31);
            break;
        default:
            str += rng.Printable(rng.Percent(5) ? rng.Range(200, 300) : rng.Range(1, 8));
            break;
        }
    }
    return str;
}

// The directories the names are joined to: plain, a drive root, one ending in a trail byte of
// 0x5C, and one near the length limit.
inline std::string EntryDir(uint32_t n)
{
    switch (n % 4)
    {
    case 0:
        return "C:\\Program Files\\QM\\Engine";
    case 1:
        return "D:\\";
    case 2:
        return "C:\\QM\\\x83\x5C";
    default:
        return "C:\\" + std::string(240, 'd');
    }
}

} // namespace stress
