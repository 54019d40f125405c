// quickdock's entry point: the launcher library does the work (launcher.h).
#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return RunLauncher(instance);
}
