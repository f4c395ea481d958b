/* pcm_pacer BYTES_PER_SECOND FILE [PIPE_BYTES]: plays raw PCM from FILE over and over to stdout,
 * at the pace of a real device; PIPE_BYTES sets the size of the pipe it writes into. A pipe-fed
 * sound source takes data as fast as it comes and stalls when none comes, so the feed must neither run ahead nor pause, nor rush to make up for lost time. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

enum { ticks_per_second = 50 };

static int write_all(const char *data, size_t size) {
    while (size > 0) {
        ssize_t n = write(STDOUT_FILENO, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

static char *read_file(const char *path, size_t *size) {
    FILE *f = fopen(path, "rb");
    if (!f) return NULL;
    char *data = NULL;
    if (fseek(f, 0, SEEK_END) == 0) {
        long length = ftell(f);
        if (length > 0 && fseek(f, 0, SEEK_SET) == 0 && (data = malloc((size_t)length)) != NULL &&
            fread(data, 1, (size_t)length, f) != (size_t)length) {
            free(data);
            data = NULL;
        }
        *size = length > 0 ? (size_t)length : 0;
    }
    fclose(f);
    return data;
}

int main(int argc, char **argv) {
    long rate = argc == 3 || argc == 4 ? strtol(argv[1], NULL, 10) : 0;
    if (rate <= 0 || rate % ticks_per_second != 0) {
        fprintf(stderr, "usage: pcm_pacer BYTES_PER_SECOND FILE [PIPE_BYTES] (rate a multiple of %d)\n", ticks_per_second);
        return 2;
    }
    size_t size = 0;
    char *data = read_file(argv[2], &size);
    if (!data) {
        fprintf(stderr, "pcm_pacer: cannot read %s\n", argv[2]);
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    if (argc == 4) {
        char *end;
        long pipe_bytes = strtol(argv[3], &end, 10);
        if (*end || pipe_bytes <= 0 || pipe_bytes > INT_MAX) {
            fprintf(stderr, "pcm_pacer: bad pipe size %s\n", argv[3]);
            return 2;
        }
        if (fcntl(STDOUT_FILENO, F_SETPIPE_SZ, (int)pipe_bytes) < 0) {
            perror("pcm_pacer: the pipe's size");
            return 1;
        }
    }
    size_t per_tick = (size_t)(rate / ticks_per_second), position = 0;
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        for (size_t left = per_tick; left > 0;) {
            size_t run = size - position < left ? size - position : left;
            if (write_all(data + position, run) != 0) return 0; /* the reader has gone */
            position = (position + run) % size;
            left -= run;
        }
        next.tv_nsec += 1000000000L / ticks_per_second;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        /* Held up (a busy machine, or a source that stopped draining): go on from now rather than
         * catch up in a burst, which would overflow buffers downstream and break the recording.
         * The signal itself stays continuous; the recording only waits a moment. */
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > next.tv_sec || (now.tv_sec == next.tv_sec && now.tv_nsec > next.tv_nsec)) next = now;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL) == EINTR) {
        }
    }
}
