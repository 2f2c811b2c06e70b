// Takes the lock another process of the library would take on a package's lock file
// (argument 1), says "locked" and waits to be killed.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const int fd = ::open(argv[1], O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fd < 0 || ::fcntl(fd, F_OFD_SETLKW, &whole) != 0)
        return 1;
    std::puts("locked");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
