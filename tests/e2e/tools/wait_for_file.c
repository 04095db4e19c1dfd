/* qardex-e2e-wait PATH TIMEOUT_MS: returns 0 as soon as PATH exists, 1 after TIMEOUT_MS.
 *
 * Page-script tests hand a step over to the scenario runner (insert a card, stop pcscd) and
 * must block until it is done. Wine's cscript has no working WScript.Sleep and does not wait
 * for Unix programs, so the script runs this Windows program and waits for it instead. */
#include <stdlib.h>
#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    const DWORD limit = strtoul(argv[2], NULL, 10);
    const DWORD start = GetTickCount();
    for (;;) {
        if (GetFileAttributesA(argv[1]) != INVALID_FILE_ATTRIBUTES) return 0;
        if (GetTickCount() - start >= limit) return 1;
        Sleep(10);
    }
}
