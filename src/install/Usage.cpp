// The usage dialog and the result message box: the only two things a run ever shows.
#include "install.h"

#include <stdarg.h>
#include <stdio.h>

void CenterWindow(HWND hWnd, HWND hParent)
{
    RECT rcWnd;
    GetWindowRect(hWnd, &rcWnd);
    int w = rcWnd.right - rcWnd.left;
    int h = rcWnd.bottom - rcWnd.top;

    RECT rcRef;
    if (hParent)
    {
        GetWindowRect(hParent, &rcRef);
    }
    else
    {
        rcRef.left = 0;
        rcRef.top = 0;
        rcRef.right = GetSystemMetrics(SM_CXSCREEN);
        rcRef.bottom = GetSystemMetrics(SM_CYSCREEN);
    }
    int pw = rcRef.right - rcRef.left;
    int ph = rcRef.bottom - rcRef.top;

    HDC hdc = GetDC(hWnd);
    int cxRes = GetDeviceCaps(hdc, HORZRES);
    int cyRes = GetDeviceCaps(hdc, VERTRES);
    ReleaseDC(hWnd, hdc);

    // The edge clamp only applies to a non-negative position, so a window larger than the
    // display may still end up left of or above the origin.
    int x = rcRef.left + (pw - w) / 2;
    if (x < 0)
        x = 0;
    else if (x + w > cxRes)
        x = cxRes - w;

    int y = rcRef.top + (ph - h) / 2;
    if (y < 0)
        y = 0;
    else if (y + h > cyRes)
        y = cyRes - h;

    SetWindowPos(hWnd, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

INT_PTR CALLBACK UsageDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (uMsg)
    {
    case WM_INITDIALOG:
        CenterWindow(hDlg, NULL);
        return FALSE;
    case WM_COMMAND:
        // OK, Enter, Escape and the close box all arrive as IDOK or IDCANCEL.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
        {
            EndDialog(hDlg, (INT_PTR)wParam);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void ShowUsageDialog(HINSTANCE hInstance)
{
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_USAGE), NULL, UsageDlgProc, 0);
}

void ShowResultMessage(HINSTANCE hInstance, UINT uStringID)
{
    if (g_bSilent)
        return;
    char szCaption[MAX_PATH] = "";
    char szText[1024] = "";
    LoadStringA(hInstance, IDS_CAPTION, szCaption, sizeof(szCaption));
    LoadStringA(hInstance, uStringID, szText, sizeof(szText));
    MessageBoxA(NULL, szText, szCaption, MB_OK);
}

void ShowResultMessageFormat(HINSTANCE hInstance, UINT uStringID, ...)
{
    if (g_bSilent)
        return;
    char szCaption[MAX_PATH] = "";
    char szFormat[1024] = "";
    char szText[1024];
    LoadStringA(hInstance, IDS_CAPTION, szCaption, sizeof(szCaption));
    LoadStringA(hInstance, uStringID, szFormat, sizeof(szFormat));
    va_list args;
    va_start(args, uStringID);
    int n = _vsnprintf(szText, sizeof(szText), szFormat, args);
    va_end(args);
    if (n < 0 || n >= (int)sizeof(szText))
        szText[sizeof(szText) - 1] = '\0';
    MessageBoxA(NULL, szText, szCaption, MB_OK);
}
