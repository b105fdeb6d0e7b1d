// kbstat.cpp -- run a command and report its wall time, CPU time and peak memory
//
// Usage: kbstat STATFILE COMMAND [ARG...]
// Runs COMMAND with the caller's standard streams and appends one line to
// STATFILE: wall seconds, user seconds, system seconds, peak resident KiB and
// the exit status.  The CPU times and the peak include the children the
// command waited for (a shell loop of cmp, say).  Exits with 0 whatever the
// command's status, which the line records.
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

static double seconds(const timeval &tv) { return (double)tv.tv_sec + (double)tv.tv_usec / 1e6; }

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: kbstat STATFILE COMMAND [ARG...]\n");
        return 2;
    }
    timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid < 0) {
        perror("kbstat: fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        perror("kbstat: exec");
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) < 0) {
        perror("kbstat: wait4");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    double wall = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
    FILE *fp = fopen(argv[1], "a");
    if (!fp) {
        perror(argv[1]);
        return 2;
    }
    fprintf(fp, "%.6f %.6f %.6f %ld %d\n", wall, seconds(ru.ru_utime), seconds(ru.ru_stime),
            ru.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return fclose(fp) == 0 ? 0 : 2;
}
