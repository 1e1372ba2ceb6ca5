#include "UnitFixture.h"

namespace
{

class Center : public UnitTest
{
  protected:
    HWND MakeWindow(int x, int y, int w, int h)
    {
        HWND hWnd = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, x, y, w, h, NULL, NULL,
                                    GetModuleHandleA(NULL), NULL);
        EXPECT_TRUE(hWnd != NULL) << GetLastError();
        m_windows.push_back(hWnd);
        return hWnd;
    }
    void TearDown() override
    {
        for (HWND h : m_windows)
            DestroyWindow(h);
        UnitTest::TearDown();
    }
    static RECT Rect(HWND hWnd)
    {
        RECT rc;
        GetWindowRect(hWnd, &rc);
        return rc;
    }
    static void Display(int* pcx, int* pcy)
    {
        HDC hdc = GetDC(NULL);
        *pcx = GetDeviceCaps(hdc, HORZRES);
        *pcy = GetDeviceCaps(hdc, VERTRES);
        ReleaseDC(NULL, hdc);
    }
    std::vector<HWND> m_windows;
};

TEST_F(Center, OnTheScreenAndOnAParent)
{
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    HWND hWnd = MakeWindow(3, 4, 301, 151);
    CenterWindow(hWnd, NULL);
    RECT rc = Rect(hWnd);
    EXPECT_EQ((cx - 301) / 2, rc.left);
    EXPECT_EQ((cy - 151) / 2, rc.top);
    EXPECT_EQ(301, rc.right - rc.left);
    EXPECT_EQ(151, rc.bottom - rc.top);

    HWND hParent = MakeWindow(100, 50, 400, 300);
    CenterWindow(hWnd, hParent);
    rc = Rect(hWnd);
    EXPECT_EQ(100 + (400 - 301) / 2, rc.left);
    EXPECT_EQ(50 + (300 - 151) / 2, rc.top);
}

TEST_F(Center, KeptOnTheDisplay)
{
    int cxRes, cyRes;
    Display(&cxRes, &cyRes);
    HWND hWnd = MakeWindow(0, 0, 200, 100);

    // A parent hanging over the bottom right edge: clamped to the display.
    HWND hParent = MakeWindow(cxRes - 100, cyRes - 50, 400, 300);
    CenterWindow(hWnd, hParent);
    RECT rc = Rect(hWnd);
    EXPECT_EQ(cxRes - 200, rc.left);
    EXPECT_EQ(cyRes - 100, rc.top);

    // A parent over the top left edge: a negative position becomes 0.
    HWND hLeft = MakeWindow(-380, -280, 400, 300);
    CenterWindow(hWnd, hLeft);
    rc = Rect(hWnd);
    EXPECT_EQ(0, rc.left);
    EXPECT_EQ(0, rc.top);

    // Larger than the display: the centred position is negative, so it becomes 0 and the
    // right-edge clamp is not applied.
    HWND hBig = MakeWindow(0, 0, cxRes + 300, cyRes + 200);
    CenterWindow(hBig, NULL);
    rc = Rect(hBig);
    EXPECT_EQ(0, rc.left);
    EXPECT_EQ(0, rc.top);
}

TEST_F(Center, DialogProcedureEndsOnOkAndCancelOnly)
{
    // Messages that must not end the dialog leave the procedure returning FALSE.
    HWND hWnd = MakeWindow(0, 0, 10, 10);
    EXPECT_EQ(FALSE, UsageDlgProc(hWnd, WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), 0));
    EXPECT_EQ(FALSE, UsageDlgProc(hWnd, WM_KEYDOWN, VK_RETURN, 0));
    EXPECT_EQ(FALSE, UsageDlgProc(hWnd, WM_INITDIALOG, 0, 0));
}

} // namespace
