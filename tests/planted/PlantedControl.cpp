// Imports VERSION and MPR at load time, as Pelmora.exe once did. Started from the folder of the
// planted libraries, it loads them (and they leave their markers): the check that a planted
// library would be seen if it were loaded.
#include <windows.h>
#include <winnetwk.h>
#include <winver.h>

int main()
{
    DWORD dwHandle;
    GetFileVersionInfoSizeA("none", &dwHandle);
    WNetCancelConnection2A("none", 0, FALSE);
    return 0;
}
