// Stands in for an ffmpeg that rejects its input: writes nothing, exits non-zero. Appends a
// line to the file named by PM_FFMPEG_RUNS_FILE, so that a test can count its runs.
#include <cstdio>
#include <cstdlib>

int main()
{
    if (const char *runs = std::getenv("PM_FFMPEG_RUNS_FILE")) {
        if (std::FILE *file = std::fopen(runs, "a")) {
            std::fputs("run\n", file);
            std::fclose(file);
        }
    }
    std::fputs("Invalid data found when processing input\n", stderr);
    return 1;
}
