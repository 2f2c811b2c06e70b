// Stands in for an ffmpeg that rejects its input: writes nothing, exits non-zero.
#include <cstdio>

int main()
{
    std::fputs("Invalid data found when processing input\n", stderr);
    return 1;
}
