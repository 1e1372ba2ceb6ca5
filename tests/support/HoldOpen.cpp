// pelmora_holdopen.exe FILE RELEASE-FILE: holds FILE open with share mode 0, as a running engine
// holds its DLL, until RELEASE-FILE exists (or ten minutes have passed). scripts/demo uses it to
// show an update staging a file in use. Prints "holding FILE" once the file is held and returns
// 0 when it was released, 1 when FILE could not be opened.
#include <windows.h>

#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: pelmora_holdopen.exe FILE RELEASE-FILE\n");
        return 2;
    }
    HANDLE hFile =
        CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        fprintf(stderr, "cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    for (int i = 0; i < 6000 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(100);
    CloseHandle(hFile);
    printf("released %s\n", argv[1]);
    return 0;
}
