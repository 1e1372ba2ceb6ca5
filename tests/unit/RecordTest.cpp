// The shared-engine record's rules over the real registry (32-bit view) and the log as written.
#include "UnitFixture.h"

#include <string>
#include <vector>
#include <string.h>

using harness::FindMessage;
using harness::HasMessage;
using harness::LastRunMessages;

namespace
{

const char s_szKey[] = "SOFTWARE\\Quillmark\\ScanEngine";
const char s_szPathKey[] = "SOFTWARE\\Quillmark\\ScanEngine\\Path";

void RawSet(const char* pszKey, const char* pszName, DWORD dwType, const void* pData, DWORD cb)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, NULL, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_32KEY, NULL, &hKey, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE*)pData, cb));
    RegCloseKey(hKey);
}

void SetDword(const char* pszName, DWORD dw)
{
    RawSet(s_szKey, pszName, REG_DWORD, &dw, sizeof(dw));
}

void SetString(const char* pszName, const std::string& str)
{
    RawSet(s_szKey, pszName, REG_SZ, str.c_str(), (DWORD)str.size() + 1);
}

// A value as "type:text" (DWORDs in decimal), or "absent".
std::string Stored(const char* pszName, const char* pszKey = s_szKey)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ | KEY_WOW64_32KEY, &hKey) !=
        ERROR_SUCCESS)
        return "absent";
    BYTE ab[2048];
    DWORD cb = sizeof(ab);
    DWORD dwType = 0;
    LONG l = RegQueryValueExA(hKey, pszName, NULL, &dwType, ab, &cb);
    RegCloseKey(hKey);
    if (l != ERROR_SUCCESS)
        return "absent";
    if (dwType == REG_DWORD)
        return "dword:" + std::to_string(*(DWORD*)ab);
    if (dwType == REG_SZ)
        return "sz:" + std::string((char*)ab);
    return "type" + std::to_string(dwType);
}

class Record : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        m_pRun = new RUN_STATE;
        ZeroMemory(m_pRun, sizeof(*m_pRun));
        m_pRun->bAddRefCount = 1;
        m_pRun->pReg = &m_reg;
    }
    void TearDown() override
    {
        delete m_pRun;
        UnitTest::TearDown();
    }
    void Product(const char* pszName, BOOL bAddRefCount = 1)
    {
        lstrcpynA(m_pRun->szProductName, pszName, sizeof(m_pRun->szProductName));
        m_pRun->bAddRefCount = bAddRefCount;
    }
    // The update as the flow orders the record's steps.
    void Update()
    {
        ReadFormerRecord(m_pRun);
        ReadUpdateStart(m_pRun);
        RegisterProductOnUpdate(m_pRun);
        WriteEngineSet(m_pRun);
    }
    void Restart()
    {
        harness::ResetState();
        ResetGlobals();
        g_nLogState = -1;
        ZeroMemory(m_pRun, sizeof(*m_pRun));
        m_pRun->bAddRefCount = 1;
        m_pRun->pReg = &m_reg;
    }

    RegBaseKeyClass m_reg{HKEY_LOCAL_MACHINE};
    RUN_STATE* m_pRun = nullptr;
};

TEST_F(Record, FirstInstallWritesOneReferenceWhateverNrSays)
{
    for (BOOL bAddRef : {TRUE, FALSE})
    {
        SCOPED_TRACE(bAddRef ? "without /NR" : "with /NR");
        Restart();
        SetString("ProductList", "|OLD|");
        // Products recorded beside the earlier list held references in the earlier count only.
        if (bAddRef)
            SetString("UnlistedProducts", "|GONE|");
        Product("Morvelin", bAddRef);
        lstrcpynA(m_pRun->szEngPath, "C:\\Eng", MAX_PATH);
        WriteEngineValue(m_pRun);
        WriteFirstInstallRecord(m_pRun);
        WriteDirectoryValue(m_pRun, "Logs", "C:\\Eng\\Logs");
        WriteDirectoryValue(m_pRun, "Incoming", "C:\\Eng\\Incoming");
        EXPECT_EQ("dword:1", Stored("ReferenceCount"));
        EXPECT_EQ("dword:3", Stored("dwEngIDs"));
        EXPECT_EQ("sz:|MORVELIN|", Stored("ProductList")) << "upper case, earlier list replaced";
        EXPECT_EQ("dword:60", Stored("Timeout"));
        EXPECT_EQ("sz:C:\\Eng", Stored("Engine", s_szPathKey));
        EXPECT_EQ("sz:C:\\Eng\\Logs", Stored("Logs", s_szPathKey));
        EXPECT_EQ("sz:C:\\Eng\\Incoming", Stored("Incoming", s_szPathKey));
        EXPECT_EQ("absent", Stored("UnlistedProducts"));
        std::vector<std::string> lines = {"Orvane: Set Timeout to 60\n"};
        if (bAddRef)
            lines.insert(lines.begin(),
                         "Orvane: UnlistedProducts of an earlier installation removed\n");
        EXPECT_EQ(lines, LastRunMessages());
    }
}

TEST_F(Record, UpdateByANewProductGrowsTheListAndTheCount)
{
    SetString("ProductList", "|MORVELIN|");
    SetDword("ReferenceCount", 1);
    SetDword("Timeout", 60);
    SetDword("dwEngIDs", 3);
    Product("B");
    Update();
    EXPECT_EQ("sz:|MORVELIN|B|", Stored("ProductList"));
    EXPECT_EQ("dword:2", Stored("ReferenceCount"));
    EXPECT_EQ("dword:60", Stored("Timeout"));
    EXPECT_EQ(
        (std::vector<std::string>{
            "Orvane: Former EngID [3]\n",
            "Orvane: dwEngID [3]\n",
            "Orvane: Product list from reg [|MORVELIN|]\n",
            "Orvane: Current ReferenceCount is [(1)]\n",
            "Orvane: Timeout in reg is [(60)]\n",
            "Orvane: Check Name[B] in [|MORVELIN|]\n",
            "Orvane: Add ref count!!\n",
            "Orvane: the current reference count in the registry is [1] and going to be [2]\n",
            "Orvane: set ref count to [2]\n",
            "Orvane: Add ProdName[B] to ProductList[|MORVELIN|]\n",
        }),
        LastRunMessages());
}

TEST_F(Record, ListedProductInAnyCaseChangesNothing)
{
    for (BOOL bAddRef : {TRUE, FALSE})
    {
        SCOPED_TRACE(bAddRef ? "without /NR" : "with /NR");
        Restart();
        SetString("ProductList", "|morvelin|b|");
        SetDword("ReferenceCount", 2);
        SetDword("Timeout", 60);
        Product("B", bAddRef);
        Update();
        EXPECT_EQ("sz:|morvelin|b|", Stored("ProductList"));
        EXPECT_EQ("dword:2", Stored("ReferenceCount"));
        std::vector<std::string> msgs = LastRunMessages();
        EXPECT_EQ(bAddRef,
                  HasMessage(msgs, "Orvane: ProductName[B] found, keep ref count as [2]\n"));
        EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: set ref count"));
        EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: Only add"));
        EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: Add ProdName"));
    }
}

TEST_F(Record, NrSwitchGrowsTheListAndKeepsTheCount)
{
    SetString("ProductList", "|MORVELIN|");
    SetDword("ReferenceCount", 1);
    SetDword("Timeout", 60);
    Product("B", FALSE);
    Update();
    EXPECT_EQ("sz:|MORVELIN|B|", Stored("ProductList"));
    EXPECT_EQ("dword:1", Stored("ReferenceCount"));
    std::vector<std::string> msgs = LastRunMessages();
    int n = FindMessage(msgs, "Orvane: Don't change reference count because of /nr switch\n");
    ASSERT_NE(-1, n);
    EXPECT_EQ(n + 1,
              FindMessage(msgs, "Orvane: Only add ProdName[B] to ProductList [|MORVELIN|]\n"));
    EXPECT_FALSE(HasMessage(msgs, "Orvane: Add ref count!!\n"));
}

TEST_F(Record, InvalidCountIsTakenAsZero)
{
    const char* const apszCases[] = {"9999", "absent", "string"};
    for (const char* pszCase : apszCases)
    {
        SCOPED_TRACE(pszCase);
        Restart();
        SetString("ProductList", "|MORVELIN|");
        SetDword("Timeout", 60);
        if (!strcmp(pszCase, "9999"))
            SetDword("ReferenceCount", 9999);
        else if (!strcmp(pszCase, "string"))
            SetString("ReferenceCount", "5");
        Product("B");
        Update();
        EXPECT_EQ("dword:1", Stored("ReferenceCount"));
        std::vector<std::string> msgs = LastRunMessages();
        int n = FindMessage(msgs, "Orvane: Invalid reference count [9999], but still continue, "
                                  "set the ref count to 0\n");
        ASSERT_NE(-1, n);
        EXPECT_EQ(n + 1, FindMessage(msgs, "Orvane: Current ReferenceCount is [(0)]\n"));
        EXPECT_TRUE(HasMessage(msgs, "Orvane: the current reference count in the registry is "
                                     "[9999] and going to be [1]\n"));
    }
}

TEST_F(Record, AbsentOrWrongTypedListIsWrittenFresh)
{
    for (bool bDword : {false, true})
    {
        SCOPED_TRACE(bDword ? "ProductList as a DWORD" : "no ProductList");
        Restart();
        SetDword("ReferenceCount", 1);
        SetDword("Timeout", 60);
        if (bDword)
            SetDword("ProductList", 7);
        Product("B");
        Update();
        EXPECT_EQ(0, m_pRun->bHaveProductList);
        EXPECT_EQ("sz:|B|", Stored("ProductList"));
        EXPECT_EQ("dword:2", Stored("ReferenceCount"));
        std::vector<std::string> msgs = LastRunMessages();
        EXPECT_TRUE(HasMessage(msgs, "Orvane: No Product list from reg\n"));
        EXPECT_TRUE(HasMessage(msgs, "Orvane: No ProductList in reg\n"));
        EXPECT_TRUE(HasMessage(msgs, "Orvane: Add ProdName[B] to ProductList[]\n"));
    }
}

TEST_F(Record, StoredTimeoutSurvivesAndAMissingOneBecomes60)
{
    struct Case
    {
        const char* pszName;
        int nStored; // -1 absent, -2 a string
        const char* pszAfter;
        const char* pszLogged;
    };
    const Case cases[] = {
        {"zero", 0, "dword:0", "Orvane: Timeout in reg is [(0)]\n"},
        {"other", 5, "dword:5", "Orvane: Timeout in reg is [(5)]\n"},
        {"absent", -1, "dword:60", "Orvane: Timeout in reg is [(9999)]\n"},
        {"string", -2, "dword:60", "Orvane: Timeout in reg is [(9999)]\n"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        Restart();
        SetDword("ReferenceCount", 1);
        if (c.nStored >= 0)
            SetDword("Timeout", (DWORD)c.nStored);
        else if (c.nStored == -2)
            SetString("Timeout", "30");
        ReadUpdateStart(m_pRun);
        EXPECT_EQ(c.pszAfter, Stored("Timeout"));
        EXPECT_EQ(1u, m_pRun->dwRefCount);
        EXPECT_EQ(
            (std::vector<std::string>{"Orvane: Current ReferenceCount is [(1)]\n", c.pszLogged}),
            LastRunMessages());
    }
}

TEST_F(Record, EngineSetsMergeAndAreWrittenAtTheEnd)
{
    SetString("ProductList", "|MORVELIN|");
    SetDword("ReferenceCount", 1);
    SetDword("dwEngIDs", 1);
    g_dwEngIDs = BRIN_ONLY;
    ReadFormerRecord(m_pRun);
    EXPECT_EQ(3u, g_dwEngIDs);
    EXPECT_EQ("dword:1", Stored("dwEngIDs")) << "nothing written before the update completes";
    WriteEngineSet(m_pRun);
    EXPECT_EQ("dword:3", Stored("dwEngIDs"));
    EXPECT_EQ((std::vector<std::string>{"Orvane: Former EngID [1]\n", "Orvane: dwEngID [3]\n",
                                        "Orvane: Product list from reg [|MORVELIN|]\n"}),
              LastRunMessages());

    // A set of 0 from a configuration file merges like any other.
    Restart();
    SetDword("dwEngIDs", 0);
    g_dwEngIDs = OSKA_ONLY;
    ReadFormerRecord(m_pRun);
    EXPECT_EQ(1u, g_dwEngIDs);
    EXPECT_STREQ("", m_pRun->szProductList);
}

TEST_F(Record, R80PathCountsANewProductEvenUnderNr)
{
    SetString("ProductList", "|MORVELIN|");
    SetDword("ReferenceCount", 1);
    SetDword("Timeout", 60);
    SetDword("dwEngIDs", 1);
    SetString("version", "8.0");
    Product("B", FALSE);
    g_dwEngIDs = BRIN_ONLY;
    ReadFormerRecord(m_pRun);
    ReadUpdateStart(m_pRun);
    RegisterProductOnR80(m_pRun);
    EXPECT_EQ("sz:|MORVELIN|B|", Stored("ProductList"));
    EXPECT_EQ("dword:2", Stored("ReferenceCount"));
    EXPECT_EQ("dword:1", Stored("dwEngIDs"));
    std::vector<std::string> msgs = LastRunMessages();
    int n = FindMessage(msgs, "Orvane: Check Name[B] in [|MORVELIN|]\n");
    ASSERT_NE(-1, n);
    EXPECT_EQ(
        (std::vector<std::string>{
            "Orvane: the current reference count in the registry is [1] and going to be [2]\n",
            "Orvane: set ref count to [2]\n"}),
        std::vector<std::string>(msgs.begin() + n + 1, msgs.end()));

    // A listed product: nothing is written.
    Restart();
    SetString("ProductList", "|MORVELIN|B|");
    SetDword("ReferenceCount", 2);
    Product("b", FALSE);
    ReadUpdateStart(m_pRun);
    RegisterProductOnR80(m_pRun);
    EXPECT_EQ("sz:|MORVELIN|B|", Stored("ProductList"));
    EXPECT_EQ("dword:2", Stored("ReferenceCount"));
}

TEST_F(Record, MembershipNeedsWholeEntriesBetweenBars)
{
    struct Case
    {
        const char* pszList;
        const char* pszName;
        BOOL bIn;
    };
    const Case cases[] = {
        {"|MORVELIN|B|", "B", 1},   {"|MORVELIN|b|", "B", 1},    {"|MORVELIN|BB|", "B", 0},
        {"|MORVELIN|", "MORVE", 0}, {"MORVELIN", "MORVELIN", 0}, {"|A|MORVELIN|", "MORVELIN", 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszList) + " / " + c.pszName);
        SetString("ProductList", c.pszList);
        BOOL bHave = 7;
        EXPECT_EQ(c.bIn, IsProductInList(c.pszName, &bHave));
        EXPECT_EQ(1, bHave);
    }

    // A stored list without the bar format is used unchanged: the append adds name and bar.
    Restart();
    SetString("ProductList", "MORVELIN");
    SetDword("ReferenceCount", 1);
    Product("MORVELIN");
    Update();
    EXPECT_EQ("sz:MORVELINMORVELIN|", Stored("ProductList"));
    EXPECT_EQ("dword:2", Stored("ReferenceCount"));
}

// A list stored as another string type is read as the text it holds, on the update and the r80
// path alike: a listed product is found there and nothing is written.
TEST_F(Record, ListedProductIsFoundInAListOfAnyStringType)
{
    const std::string strExpand("|A|B|\0", 6);
    const std::string strMulti("|A|B|\0|C|\0\0", 10);
    for (bool bR80 : {false, true})
        for (const std::string* pstrList : {&strExpand, &strMulti})
        {
            DWORD dwType = pstrList == &strExpand ? REG_EXPAND_SZ : REG_MULTI_SZ;
            SCOPED_TRACE(std::to_string(dwType) + (bR80 ? " r80" : ""));
            Restart();
            RawSet(s_szKey, "ProductList", dwType, pstrList->data(), (DWORD)pstrList->size());
            SetDword("ReferenceCount", 2);
            SetDword("Timeout", 60);
            Product("b");
            ReadFormerRecord(m_pRun);
            ReadUpdateStart(m_pRun);
            if (bR80)
                RegisterProductOnR80(m_pRun);
            else
                RegisterProductOnUpdate(m_pRun);
            EXPECT_EQ("type" + std::to_string(dwType), Stored("ProductList"));
            HKEY hKey;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szKey, 0,
                                                   KEY_READ | KEY_WOW64_32KEY, &hKey));
            char ab[32];
            DWORD cb = sizeof(ab);
            EXPECT_EQ(ERROR_SUCCESS,
                      RegQueryValueExA(hKey, "ProductList", NULL, NULL, (BYTE*)ab, &cb));
            RegCloseKey(hKey);
            EXPECT_EQ(*pstrList, std::string(ab, cb));
            EXPECT_EQ("dword:2", Stored("ReferenceCount"));
            EXPECT_EQ("absent", Stored("UnlistedProducts"));
            std::vector<std::string> msgs = LastRunMessages();
            EXPECT_TRUE(HasMessage(msgs, "Orvane: Product list from reg [|A|B|]\n"));
            EXPECT_TRUE(HasMessage(msgs, "Orvane: Check Name[b] in [|A|B|]\n"));
            EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: set ref count"));
        }
}

TEST_F(Record, ListThatWouldPassItsLimitStaysIntact)
{
    // 257 characters stored; "|B|" would fit at 259 only for a one-letter name.
    const std::string strList = "|" + std::string(255, 'A') + "|";
    struct Case
    {
        const char* pszName;
        BOOL bAddRef;
        BOOL bR80;
        bool bGrows;
        const char* pszCount; // ReferenceCount after two runs
        const char* pszAdded; // the line of the first run that records the product
    };
    const Case cases[] = {
        {"B", 1, 0, true, "dword:2", "Orvane: Add ProdName[B] to ProductList["},
        {"BC", 1, 0, false, "dword:2", "Orvane: Add ProdName[BC] to UnlistedProducts[]\n"},
        {"BC", 0, 0, false, "dword:1", "Orvane: Only add ProdName[BC] to UnlistedProducts []\n"},
        {"BC", 0, 1, false, "dword:2", "Orvane: Add ProdName[BC] to UnlistedProducts[]\n"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszName) + (c.bAddRef ? "" : " /NR") + (c.bR80 ? " r80" : ""));
        Restart();
        SetString("ProductList", strList);
        SetDword("ReferenceCount", 1);
        SetDword("Timeout", 60);
        // Run twice: the second run finds the product where the first recorded it.
        for (int nRun = 0; nRun < 2; nRun++)
        {
            g_nLogState = -1;
            Product(c.pszName, c.bAddRef);
            ReadFormerRecord(m_pRun);
            ReadUpdateStart(m_pRun);
            if (c.bR80)
                RegisterProductOnR80(m_pRun);
            else
                RegisterProductOnUpdate(m_pRun);
            std::vector<std::string> msgs = LastRunMessages();
            const std::string strRefused = std::string("Orvane: ProductList would grow past 259 "
                                                       "characters, ProdName[") +
                                           c.pszName + "] not added\n";
            EXPECT_EQ(nRun == 0 && !c.bGrows, HasMessage(msgs, strRefused));
            EXPECT_EQ(nRun == 0, harness::FindPrefix(msgs, c.pszAdded) != -1) << nRun;
        }
        if (c.bGrows)
        {
            EXPECT_EQ("sz:" + strList + c.pszName + "|", Stored("ProductList"));
            EXPECT_EQ("absent", Stored("UnlistedProducts"));
        }
        else
        {
            EXPECT_EQ("sz:" + strList, Stored("ProductList"));
            EXPECT_EQ(std::string("sz:|") + c.pszName + "|", Stored("UnlistedProducts"));
        }
        // The product holds its one reference on the engine, /NR aside.
        EXPECT_EQ(c.pszCount, Stored("ReferenceCount"));
    }

    // A list already too long to read is never replaced by a fresh one; the product goes beside
    // it, and the only reason logged is the real one.
    Restart();
    const std::string strLong = "|" + std::string(300, 'L') + "|";
    SetString("ProductList", strLong);
    SetDword("ReferenceCount", 1);
    Product("B");
    Update();
    EXPECT_EQ("sz:" + strLong, Stored("ProductList"));
    EXPECT_EQ("sz:|B|", Stored("UnlistedProducts"));
    EXPECT_EQ("dword:2", Stored("ReferenceCount"));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_TRUE(HasMessage(
        msgs, "Orvane: ProductList in reg is longer than 259 characters, left as it is\n"));
    EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: ProductList would grow past"));

    // A second product that does not fit joins the first beside the list.
    g_nLogState = -1;
    Product("C");
    Update();
    EXPECT_EQ("sz:|B|C|", Stored("UnlistedProducts"));
    EXPECT_EQ("dword:3", Stored("ReferenceCount"));
    EXPECT_TRUE(
        HasMessage(LastRunMessages(), "Orvane: Add ProdName[C] to UnlistedProducts[|B|]\n"));

    // An UnlistedProducts we cannot read is left as it is, and the count with it.
    Restart();
    SetString("ProductList", strLong);
    SetDword("ReferenceCount", 1);
    SetDword("UnlistedProducts", 7);
    Product("B");
    Update();
    EXPECT_EQ("dword:7", Stored("UnlistedProducts"));
    EXPECT_EQ("dword:1", Stored("ReferenceCount"));
    msgs = LastRunMessages();
    EXPECT_TRUE(HasMessage(
        msgs, "Orvane: UnlistedProducts in reg can't be read [1804], ProdName[B] not added\n"));
    EXPECT_TRUE(
        HasMessage(msgs, "Orvane: ProdName[B] can be recorded nowhere, keep ref count as [1]\n"));
}

} // namespace
