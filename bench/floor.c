/* The floor for listing: walk the tree, and for each .mp3 file open it, read its first 10 bytes, the ID3v2 tag
 * the header announces and its last 128 bytes. No parsing, no rows: the least any lister must do.
 * With --walk-only as the first argument: only read the folders and lstat every entry (the least a lister that
 * knows the tags already must do). */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

static long files;
static int walkOnly;
static char buffer[1 << 20];

static void visit(const char *path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    unsigned char head[10];
    if (fstat(fd, &st) == 0 && pread(fd, head, 10, 0) == 10) {
        if (memcmp(head, "ID3", 3) == 0) {
            size_t size = ((size_t)(head[6] & 0x7f) << 21) | ((head[7] & 0x7f) << 14) | ((head[8] & 0x7f) << 7) | (head[9] & 0x7f);
            if (size > sizeof buffer)
                size = sizeof buffer;
            if (pread(fd, buffer, size, 10) < 0)
                perror(path);
        }
        if (st.st_size >= 128 && pread(fd, buffer, 128, st.st_size - 128) < 0)
            perror(path);
    }
    close(fd);
    ++files;
}

static void walk(const char *folder)
{
    DIR *dir = opendir(folder);
    if (!dir)
        return;
    struct dirent *d;
    char path[4096];
    while ((d = readdir(dir))) {
        if (d->d_name[0] == '.' && (!d->d_name[1] || (d->d_name[1] == '.' && !d->d_name[2])))
            continue;
        snprintf(path, sizeof path, "%s/%s", folder, d->d_name);
        if (walkOnly) {
            struct stat st;
            if (lstat(path, &st) == 0 && S_ISDIR(st.st_mode))
                walk(path);
            else
                ++files;
            continue;
        }
        if (d->d_type == DT_DIR)
            walk(path);
        else {
            const char *dot = strrchr(d->d_name, '.');
            if (dot && strcasecmp(dot, ".mp3") == 0)
                visit(path);
        }
    }
    closedir(dir);
}

int main(int argc, char **argv)
{
    int first = 1;
    if (argc > 1 && strcmp(argv[1], "--walk-only") == 0) {
        walkOnly = 1;
        first = 2;
    }
    for (int i = first; i < argc; ++i)
        walk(argv[i]);
    printf("%ld\n", files);
    return 0;
}
