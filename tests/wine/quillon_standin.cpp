// Stand-in for the suite's quillon.exe in the end-to-end tests: it records the
// parameter string it was started with, one line per start, in
// quillon-launches.txt beside itself, and ends at once. A GUI program, so no
// console window opens in the test desktop.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR parameters, int) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    char* slash = std::strrchr(path, '\\');
    if (slash == nullptr) return 1;
    std::strcpy(slash + 1, "quillon-launches.txt");

    // Several starts may race: append through a shared handle, one write each.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    char line[1024];
    const int size = wsprintfA(line, "[%s]\r\n", parameters);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    return 0;
}
