// The floor of saving files from the browser's cache, for run_capture_bench.sh: what any saver
// that reads the bytes from the cache must at least do for each file. Every regular file of the
// cache folder is opened and read whole, checked (a CRC-32 over every byte, as a cache entry's
// check sum is), and written as a new file that appears whole or not at all (an unnamed file
// linked into place). One thread, no names worked out, nothing else asked of anyone.
//
//     copy_floor CACHE_FOLDER DEST_FOLDER
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

bool ReadWhole(int dir, const char* name, std::vector<unsigned char>& bytes)
{
    const int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st
    {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        bytes.resize(size_t(st.st_size));
        size_t at = 0;
        while (ok && at < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + at, bytes.size() - at);
            ok = n > 0;
            at += ok ? size_t(n) : 0;
        }
    }
    close(fd);
    return ok;
}

bool WriteWhole(int dir, const char* name, const std::vector<unsigned char>& bytes)
{
    const int fd = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t at = 0;
    bool ok = true;
    while (ok && at < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        ok = n > 0;
        at += ok ? size_t(n) : 0;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    ok = ok && linkat(AT_FDCWD, self.c_str(), dir, name, AT_SYMLINK_FOLLOW) == 0;
    close(fd);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: copy_floor CACHE_FOLDER DEST_FOLDER\n");
        return 2;
    }
    mkdir(argv[2], 0755);
    const int from = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int to = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = from < 0 ? nullptr : fdopendir(dup(from));
    if (!listing || to < 0) {
        std::fprintf(stderr, "copy_floor: %s\n", std::strerror(errno));
        return 1;
    }
    std::vector<unsigned char> bytes;
    unsigned long sum = 0;
    int copied = 0;
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] == '.' || !ReadWhole(from, entry->d_name, bytes))
            continue;
        sum ^= crc32_z(crc32_z(0L, Z_NULL, 0), bytes.data(), bytes.size());
        if (!WriteWhole(to, entry->d_name, bytes)) {
            std::fprintf(stderr, "copy_floor: %s: %s\n", entry->d_name, std::strerror(errno));
            return 1;
        }
        ++copied;
    }
    closedir(listing);
    std::printf("%d files, check %08lx\n", copied, sum);
    return 0;
}
