/* What a program on a disc sees of its drive under Wine, written to the file that
 * PROBE_REPORT names, one "name=value" a line. */
#include <windows.h>
#include <stdio.h>

int main(void)
{
    char report[MAX_PATH], path[MAX_PATH], folder[MAX_PATH], label[MAX_PATH + 1] = "", autorun[256] = "";
    if (!GetEnvironmentVariableA("PROBE_REPORT", report, sizeof report))
        return 2;
    GetModuleFileNameA(NULL, path, sizeof path);
    GetCurrentDirectoryA(sizeof folder, folder);
    char root[] = "?:\\";
    root[0] = path[0];
    UINT type = GetDriveTypeA(root);
    GetVolumeInformationA(root, label, sizeof label, NULL, NULL, NULL, NULL, 0);
    // Drive-relative: the root of the drive the program runs from.
    FILE *inf = fopen("\\autorun.inf", "rb");
    if (inf) {
        size_t got = fread(autorun, 1, sizeof autorun - 1, inf);
        autorun[got] = 0;
        for (char *c = autorun; *c; ++c)
            if (*c == '\r' || *c == '\n')
                *c = ' ';
        fclose(inf);
    }
    char temporary[MAX_PATH + 8];
    snprintf(temporary, sizeof temporary, "%s.tmp", report);
    FILE *out = fopen(temporary, "wb");
    if (!out)
        return 1;
    fprintf(out, "path=%s\nfolder=%s\ntype=%u\nlabel=%s\nautorun=%s\ndrives=%lx\n", path, folder, type, label, autorun,
            GetLogicalDrives());
    fclose(out);
    return MoveFileA(temporary, report) ? 0 : 1;
}
