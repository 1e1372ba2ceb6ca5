// The companion probe over real COM: the stand-in components are registered in the prefix with
// regsvr32 and answer from their data keys.
#include "UnitFixture.h"

#include "CompanionData.h"
#include "CompanionSupport.h"
#include "sysint/companion.h"
#include "sysint/sysint.h"

#include <string>
#include <vector>

namespace
{

enum Component
{
    CompA,
    CompB,
};

const char* DllName(Component c)
{
    return c == CompA ? "CompanionA.dll" : "CompanionB.dll";
}

const char* DataKey(Component c)
{
    return c == CompA ? COMPANION_A_DATA_KEY : COMPANION_B_DATA_KEY;
}

std::string ClsidKey(Component c)
{
    WCHAR wsz[64];
    StringFromGUID2(c == CompA ? CLSID_CompanionA : CLSID_CompanionB, wsz, 64);
    char sz[64];
    WideCharToMultiByte(CP_ACP, 0, wsz, -1, sz, sizeof(sz), NULL, NULL);
    return std::string("CLSID\\") + sz;
}

// Runs regsvr32 silently on the component's DLL next to the tests and returns its exit code.
DWORD RunRegsvr32(Component c, bool bUnregister)
{
    return harness::RunRegsvr32(harness::ModuleDir() + "\\" + DllName(c), bUnregister);
}

bool ClassKeyExists(Component c)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ClsidKey(c).c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

// The product list of component A; an empty vector stores an empty list.
void SetProducts(const std::vector<std::string>& products)
{
    std::string strMulti;
    for (const std::string& s : products)
        strMulti += s + '\0';
    strMulti += '\0';
    harness::SetCompanionValue(COMPANION_A_DATA_KEY, COMPANION_VALUE_PRODUCTS, REG_MULTI_SZ,
                               strMulti.data(), (DWORD)strMulti.size());
}

void SetSingleProduct(const char* pszName)
{
    harness::SetCompanionValue(COMPANION_A_DATA_KEY, COMPANION_VALUE_PRODUCTS, REG_SZ, pszName,
                               (DWORD)strlen(pszName) + 1);
}

void SetResult(Component c, HRESULT hr)
{
    DWORD dw = (DWORD)hr;
    harness::SetCompanionValue(DataKey(c), COMPANION_VALUE_RESULT, REG_DWORD, &dw, sizeof(dw));
}

// Objects the component has created since its data key was last deleted.
DWORD Instances(Component c)
{
    return harness::CompanionInstances(DataKey(c));
}

void ClearData()
{
    harness::ClearCompanionData();
}

class Companion : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        Unregister();
        ClearData();
    }
    void TearDown() override
    {
        Unregister();
        ClearData();
        UnitTest::TearDown();
    }
    static void Register(Component c)
    {
        ASSERT_EQ(0u, RunRegsvr32(c, false)) << DllName(c);
        ASSERT_TRUE(ClassKeyExists(c)) << DllName(c);
    }
    static void Unregister()
    {
        for (Component c : {CompA, CompB})
            SetRegistered(c, false);
    }
    // Brings the component to the state a case asks for. regsvr32 runs only when the state
    // changes: every start of it is a process of its own, seconds long where 32-bit code runs
    // emulated, and the probe reads the class key afresh on every creation.
    static void SetRegistered(Component c, bool bRegistered)
    {
        if (ClassKeyExists(c) == bRegistered)
            return;
        if (bRegistered)
        {
            Register(c);
            return;
        }
        EXPECT_EQ(0u, RunRegsvr32(c, true)) << DllName(c);
        EXPECT_FALSE(ClassKeyExists(c)) << DllName(c);
    }
};

// COM is initialised by this thread afresh: the probe left nothing behind.
void ExpectNoComState()
{
    HRESULT hr = CoInitialize(NULL);
    EXPECT_EQ(S_OK, hr);
    if (SUCCEEDED(hr))
        CoUninitialize();
}

TEST_F(Companion, SelfRegistrationWritesAndRemovesTheInprocServer)
{
    for (Component c : {CompA, CompB})
    {
        SCOPED_TRACE(DllName(c));
        ASSERT_FALSE(ClassKeyExists(c));
        Register(c);
        char sz[MAX_PATH];
        DWORD cb = sizeof(sz);
        std::string strServer = ClsidKey(c) + "\\InprocServer32";
        ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CLASSES_ROOT, strServer.c_str(), NULL,
                                              RRF_RT_REG_SZ, NULL, sz, &cb));
        EXPECT_EQ(0, lstrcmpiA((harness::ModuleDir() + "\\" + DllName(c)).c_str(), sz)) << sz;
        cb = sizeof(sz);
        ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CLASSES_ROOT, strServer.c_str(),
                                              "ThreadingModel", RRF_RT_REG_SZ, NULL, sz, &cb));
        EXPECT_STREQ("Both", sz);

        EXPECT_EQ(0u, RunRegsvr32(c, true));
        EXPECT_FALSE(ClassKeyExists(c));
    }
}

TEST_F(Companion, ProbeAAnswersOnlyForAListWithData)
{
    const struct
    {
        const char* pszName;
        bool bRegister;
        int nProducts;    // -1: no list stored
        HRESULT hrResult; // S_OK: no result stored
        int nExpected;
    } cases[] = {
        {"not registered, list stored", false, 2, S_OK, 0},
        {"registered, product not installed", true, -1, S_OK, 0},
        {"registered, list of two", true, 2, S_OK, 1},
        {"registered, list of one", true, 1, S_OK, 1},
        {"registered, empty list", true, 0, S_OK, 0},
        {"registered, S_FALSE with a list", true, 2, S_FALSE, 1},
        {"registered, method fails", true, 2, E_FAIL, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ClearData();
        SetRegistered(CompA, c.bRegister);
        if (c.nProducts >= 0)
            SetProducts(std::vector<std::string>(c.nProducts, "QUILLMARK SHIELD"));
        if (c.hrResult != S_OK)
            SetResult(CompA, c.hrResult);
        EXPECT_EQ(c.nExpected, ProbeCompanionA());
        EXPECT_EQ(c.bRegister ? 1u : 0u, Instances(CompA));
        ExpectNoComState();
    }
}

TEST_F(Companion, ProbeATakesOnlyAnArrayForAList)
{
    // A single product reported as a string is not an array: its text must not be read as one.
    Register(CompA);
    SetSingleProduct("QUILLMARK SHIELD");
    EXPECT_EQ(0, ProbeCompanionA());
    EXPECT_EQ(1u, Instances(CompA));
    ExpectNoComState();
}

TEST_F(Companion, ProbeBAnswersWhenItsQuerySucceeds)
{
    const struct
    {
        const char* pszName;
        bool bRegister;
        bool bSetResult;
        HRESULT hrResult;
        int nExpected;
    } cases[] = {
        {"not registered, product installed", false, true, S_OK, 0},
        {"registered, product not installed", true, false, S_OK, 0},
        {"registered, S_OK", true, true, S_OK, 1},
        {"registered, S_FALSE counts as success", true, true, S_FALSE, 1},
        {"registered, other success code", true, true, 0x00040000, 1},
        {"registered, E_FAIL", true, true, E_FAIL, 0},
        {"registered, E_ACCESSDENIED", true, true, E_ACCESSDENIED, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ClearData();
        SetRegistered(CompB, c.bRegister);
        if (c.bSetResult)
            SetResult(CompB, c.hrResult);
        EXPECT_EQ(c.nExpected, ProbeCompanionB());
        EXPECT_EQ(c.bRegister ? 1u : 0u, Instances(CompB));
        ExpectNoComState();
    }
}

// Leaves a pattern in the stack below the caller's frame, where the probe's record will lie.
__attribute__((noinline)) void DirtyTheStack()
{
    volatile BYTE abDirty[16384];
    for (size_t i = 0; i < sizeof(abDirty); i++)
        abDirty[i] = 0xA5;
}

TEST_F(Companion, ProbeBHandsTheComponentAZeroFilledRecord)
{
    // The component refuses an area that is not zero-filled.
    Register(CompB);
    SetResult(CompB, S_OK);
    for (int i = 0; i < 3; i++)
    {
        DirtyTheStack();
        EXPECT_EQ(1, ProbeCompanionB()) << i;
    }
    EXPECT_EQ(3u, Instances(CompB));
}

TEST_F(Companion, ShouldAddBootScanForMorvelinOrDefaultArgumentsWithoutCom)
{
    // Both components registered and answering: they must not even be created.
    Register(CompA);
    Register(CompB);
    SetProducts({"QUILLMARK SHIELD"});
    SetResult(CompB, S_OK);
    const struct
    {
        const char* pszProduct;
        BOOL bDefaultArgs;
    } cases[] = {
        {"Morvelin", FALSE}, {"MORVELIN", FALSE}, {"morvelin", FALSE},
        {"mOrVeLiN", FALSE}, {"OTHER", TRUE},     {"", TRUE},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszProduct) + (c.bDefaultArgs ? " default args" : ""));
        g_bDefaultArgs = c.bDefaultArgs;
        EXPECT_EQ(1, ShouldAddBootScan(c.pszProduct));
        EXPECT_EQ(0u, Instances(CompA));
        EXPECT_EQ(0u, Instances(CompB));
    }
}

TEST_F(Companion, ShouldAddBootScanAsksAThenB)
{
    const struct
    {
        const char* pszName;
        const char* pszProduct;
        bool bRegisterA, bRegisterB;
        int nProductsA; // -1: product A not installed
        bool bSetResultB;
        HRESULT hrResultB;
        int nExpected;
        DWORD dwInstancesA, dwInstancesB;
    } cases[] = {
        {"neither registered", "OTHER", false, false, 1, true, S_OK, 0, 0, 0},
        {"A with data, B not created", "OTHER", true, true, 2, true, S_OK, 1, 1, 0},
        {"A empty, B asked and succeeds", "OTHER", true, true, -1, true, S_OK, 1, 1, 1},
        {"A empty list, B asked", "OTHER", true, true, 0, true, S_OK, 1, 1, 1},
        {"A empty, B S_FALSE", "OTHER", true, true, -1, true, S_FALSE, 1, 1, 1},
        {"A empty, B fails", "OTHER", true, true, -1, true, E_FAIL, 0, 1, 1},
        {"A empty, B not installed", "OTHER", true, true, -1, false, S_OK, 0, 1, 1},
        {"A not registered, B succeeds", "OTHER", false, true, 2, true, S_OK, 1, 0, 1},
        {"name only close to Morvelin", "MORVELINS", true, true, -1, false, S_OK, 0, 1, 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ClearData();
        SetRegistered(CompA, c.bRegisterA);
        SetRegistered(CompB, c.bRegisterB);
        if (c.nProductsA >= 0)
            SetProducts(std::vector<std::string>(c.nProductsA, "QUILLMARK SHIELD"));
        if (c.bSetResultB)
            SetResult(CompB, c.hrResultB);
        g_bDefaultArgs = FALSE;
        EXPECT_EQ(c.nExpected, ShouldAddBootScan(c.pszProduct));
        EXPECT_EQ(c.dwInstancesA, Instances(CompA));
        EXPECT_EQ(c.dwInstancesB, Instances(CompB));
        ExpectNoComState();
    }
}

TEST_F(Companion, ProbeAKeepsTheCallersComInitialisation)
{
    // A thread already in the multithreaded apartment: CoInitialize refuses, and the probe must
    // not uninitialise what it did not initialise.
    Register(CompA);
    SetProducts({"QUILLMARK SHIELD"});
    ASSERT_EQ(S_OK, CoInitializeEx(NULL, COINIT_MULTITHREADED));
    EXPECT_EQ(1, ProbeCompanionA());
    EXPECT_EQ(0, ProbeCompanionB());
    // Still in the same apartment: a second initialisation of that kind only counts up.
    EXPECT_EQ(S_FALSE, CoInitializeEx(NULL, COINIT_MULTITHREADED));
    CoUninitialize();
    CoUninitialize();
    ExpectNoComState();
}

TEST_F(Companion, ScannerLineAppearsOnlyWhenTheProbeSaysYes)
{
    std::string strEngDir = harness::TestDir() + "\\Scan Engine";
    ASSERT_TRUE(CreateDirectoryA(strEngDir.c_str(), NULL)) << GetLastError();
    char szShort[MAX_PATH];
    ASSERT_TRUE(GetOemShortPath(strEngDir.c_str(), szShort));
    const std::string s = szShort;
    const struct
    {
        const char* pszName;
        bool bRegisterB;
        int nExpectedScanLines;
    } cases[] = {
        {"no companion component", false, 0},
        {"component B answers", true, 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ClearData();
        SetRegistered(CompB, c.bRegisterB);
        if (c.bRegisterB)
            SetResult(CompB, S_OK);
        ASSERT_TRUE(
            harness::WriteFileBytes("C:\\AUTOEXEC.BAT", "ECHO 1\r\nC:\\OLD\\PROBIT.EXE\r\n"));
        g_bDefaultArgs = FALSE;
        SetAutoexecLines9x(strEngDir.c_str(), "OTHER");
        std::string strExpected = "ECHO 1\r\nSET AVENGINE=" + s + "\r\n" +
                                  (c.nExpectedScanLines ? s + "\\PROBIT.EXE\r\n" : "") +
                                  "PATH=" + s;
        EXPECT_EQ(strExpected, harness::ReadFileBytes("C:\\AUTOEXEC.BAT"));
        EXPECT_EQ(c.bRegisterB ? 1u : 0u, Instances(CompB));
    }
}

} // namespace
