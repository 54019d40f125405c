/* Runs one command and writes its resource use to a file:
 *
 *   runstat STATSFILE COMMAND [ARG...]
 *
 * STATSFILE gets "cpu_seconds wall_seconds max_rss_kib exit_status". The
 * benchmark driver starts every timed program through this small process:
 * a child forked straight from the Python driver would inherit the
 * driver's resident pages and report them as its own peak RSS. */
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fputs("usage: runstat STATSFILE COMMAND [ARG...]\n", stderr);
        return 126;
    }
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 126;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) < 0) {
        perror("wait4");
        return 126;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    FILE* f = fopen(argv[1], "w");
    if (!f) {
        perror(argv[1]);
        return 126;
    }
    fprintf(f, "%.6f %.6f %ld %d\n",
            (double)ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + (double)ru.ru_stime.tv_sec +
                ru.ru_stime.tv_usec / 1e6,
            (double)(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9, ru.ru_maxrss, code);
    return fclose(f) == 0 ? code : 126;
}
