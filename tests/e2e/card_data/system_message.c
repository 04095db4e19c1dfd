/* system_message.exe CODE...: for each code, one line "CODE HEX" with the bytes FormatMessageA
 * gives for it as a system error number in the user's language (what ZEL_FormatMessage must
 * pass through); HEX is empty when the system has no text. Built with mingw by messages.sh. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        char *text = NULL;
        DWORD length = FormatMessageA(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
            NULL, (DWORD)strtoul(argv[i], NULL, 10), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
            (char *)&text, 0, NULL);
        printf("%s ", argv[i]);
        for (DWORD j = 0; text != NULL && j < length; j++) printf("%02x", (unsigned char)text[j]);
        printf("\n");
        if (text != NULL) LocalFree(text);
    }
    return 0;
}
