/* Defines or removes a drive letter through Wine's mount manager, the request that
 * winecfg sends; run under wine by tarvic.
 *
 *   winedrive define LETTER MOUNT-FOLDER [DEVICE]   a CD-ROM drive on that folder
 *   winedrive remove LETTER
 *
 * The paths are Unix paths, each byte as two hexadecimal digits: Wine would turn
 * other bytes on the command line into characters by the locale's code page.
 * Exit status 0 when the mount manager accepted, 1 when it refused, 2 on bad use. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

/* Wine's extension of the mount manager (Wine's include/ddk/mountmgr.h); not in
 * mingw-w64's headers. */
#define WINE_MOUNTMGR_DEVICE L"\\\\.\\MountPointManager"
#define WINE_IOCTL_DEFINE_UNIX_DRIVE CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

struct mountmgr_unix_drive
{
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};

static int nibble(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

/* The Unix path from its hexadecimal bytes; NULL when it is no such text or holds a NUL. */
static char *unhex(const wchar_t *w)
{
    size_t length = wcslen(w);
    if (length == 0 || length % 2)
        return NULL;
    char *s = malloc(length / 2 + 1);
    if (!s)
        return NULL;
    for (size_t i = 0; i < length / 2; ++i) {
        int high = nibble(w[2 * i]), low = nibble(w[2 * i + 1]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            free(s);
            return NULL;
        }
        s[i] = (char)(high * 16 + low);
    }
    s[length / 2] = 0;
    return s;
}

static int define(wchar_t letter, ULONG type, const char *mount, const char *device)
{
    size_t mountLength = mount ? strlen(mount) + 1 : 0;
    size_t deviceLength = device ? strlen(device) + 1 : 0;
    size_t size = sizeof(struct mountmgr_unix_drive) + mountLength + deviceLength;
    if (size > 0xffff) {
        fprintf(stderr, "winedrive: the path is too long\n");
        return 2;
    }
    struct mountmgr_unix_drive *request = calloc(1, size);
    if (!request)
        return 1;
    request->size = (ULONG)size;
    request->type = type;
    request->letter = letter;
    char *at = (char *)(request + 1);
    if (mount) {
        memcpy(at, mount, mountLength);
        request->mount_point_offset = (USHORT)(at - (char *)request);
        at += mountLength;
    }
    if (device) {
        memcpy(at, device, deviceLength);
        request->device_offset = (USHORT)(at - (char *)request);
    }

    HANDLE manager = CreateFileW(WINE_MOUNTMGR_DEVICE, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 NULL, OPEN_EXISTING, 0, NULL);
    if (manager == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "winedrive: no mount manager (error %lu)\n", GetLastError());
        free(request);
        return 1;
    }
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(manager, WINE_IOCTL_DEFINE_UNIX_DRIVE, request, (DWORD)size, NULL, 0, &returned, NULL);
    if (!ok)
        fprintf(stderr, "winedrive: the mount manager refused %lc: (error %lu)\n", letter, GetLastError());
    CloseHandle(manager);
    free(request);
    return ok ? 0 : 1;
}

static int usage(void)
{
    fprintf(stderr, "usage: winedrive define LETTER HEX-MOUNT-FOLDER [HEX-DEVICE] | winedrive remove LETTER\n");
    return 2;
}

int main(void)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3 || wcslen(argv[2]) != 1 || !iswalpha(argv[2][0]))
        return usage();
    const wchar_t letter = towlower(argv[2][0]);
    if (argc == 3 && wcscmp(argv[1], L"remove") == 0)
        return define(letter, DRIVE_NO_ROOT_DIR, NULL, NULL);
    if ((argc == 4 || argc == 5) && wcscmp(argv[1], L"define") == 0) {
        char *mount = unhex(argv[3]);
        char *device = argc == 5 ? unhex(argv[4]) : NULL;
        if (!mount || (argc == 5 && !device))
            return usage();
        int status = define(letter, DRIVE_CDROM, mount, device);
        free(mount);
        free(device);
        return status;
    }
    return usage();
}
