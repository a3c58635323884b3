/* The load client of bench/pop3_bench.py: one POP3 session that costs as
 * little per byte as possible, so that the server, not the client, sets
 * the pace.
 *
 *   pop3_client PORT USER PASSWORD retrieve      log in, RETR every message
 *                                               (pipelined), QUIT; prints
 *                                               the bytes received
 *   pop3_client PORT USER PASSWORD sessions SEC  short sessions (USER, PASS,
 *                                               STAT, QUIT) for SEC seconds;
 *                                               prints how many ran
 *
 * Connects to 127.0.0.1 only. Reads 64 KiB at a time and keeps at most
 * WINDOW RETR commands in flight. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kBlock = 64 * 1024, kWindow = 16 };

struct session {
    int fd;
    char buf[2 * kBlock];
    size_t pos, len;
    unsigned long long received;
};

static void fail(const char *what) {
    fprintf(stderr, "pop3_client: %s\n", what);
    exit(1);
}

static void send_all(struct session *s, const char *text, size_t size) {
    while (size > 0) {
        ssize_t n = send(s->fd, text, size, MSG_NOSIGNAL);
        if (n <= 0) fail("send failed");
        text += n;
        size -= (size_t)n;
    }
}

/* Moves the unread bytes to the front and reads at most one block more. */
static void fill(struct session *s) {
    if (s->pos > 0) {
        memmove(s->buf, s->buf + s->pos, s->len - s->pos);
        s->len -= s->pos;
        s->pos = 0;
    }
    size_t room = sizeof s->buf - s->len;
    if (room > kBlock) room = kBlock;
    if (room == 0) fail("line too long");
    ssize_t n = recv(s->fd, s->buf + s->len, room, 0);
    if (n <= 0) fail("connection closed");
    s->len += (size_t)n;
    s->received += (unsigned long long)n;
}

/* The next reply line (without CR LF), which must begin "+OK". */
static const char *status_line(struct session *s, size_t *end) {
    char *eol;
    while ((eol = memmem(s->buf + s->pos, s->len - s->pos, "\r\n", 2)) == NULL) fill(s);
    if (strncmp(s->buf + s->pos, "+OK", 3) != 0) fail("negative reply");
    *end = (size_t)(eol - s->buf);
    return s->buf + s->pos;
}

static void skip_line(struct session *s) {
    size_t end;
    status_line(s, &end);
    s->pos = end + 2;
}

/* Skips a multi-line reply up to and with its "." line. The search starts
 * at the status line's CR LF, so an empty body is found too. */
static void skip_multiline(struct session *s) {
    size_t end;
    status_line(s, &end);
    size_t from = end;
    for (;;) {
        char *dot = memmem(s->buf + from, s->len - from, "\r\n.\r\n", 5);
        if (dot != NULL) {
            s->pos = (size_t)(dot - s->buf) + 5;
            return;
        }
        /* Keep only what may hold the start of the end line. */
        size_t keep = s->len - from < 4 ? s->len - from : 4;
        s->pos = s->len - keep;
        fill(s);
        from = 0;
    }
}

static void command(struct session *s, const char *format, const char *argument) {
    char line[600];
    int n = snprintf(line, sizeof line, format, argument);
    if (n < 0 || (size_t)n >= sizeof line) fail("argument too long");
    send_all(s, line, (size_t)n);
}

static void open_session(struct session *s, int port, const char *user, const char *password) {
    struct sockaddr_in to = {0};
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    s->fd = socket(AF_INET, SOCK_STREAM, 0);
    if (s->fd < 0 || connect(s->fd, (struct sockaddr *)&to, sizeof to) != 0) fail("cannot connect");
    int on = 1;
    setsockopt(s->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    s->pos = s->len = 0;
    skip_line(s);
    command(s, "USER %s\r\n", user);
    skip_line(s);
    command(s, "PASS %s\r\n", password);
    skip_line(s);
}

static void close_session(struct session *s) {
    command(s, "QUIT\r\n%s", "");
    skip_line(s);
    close(s->fd);
}

static int message_count(struct session *s) {
    size_t end;
    command(s, "STAT\r\n%s", "");
    const char *line = status_line(s, &end);
    int count = atoi(line + 4);
    s->pos = end + 2;
    return count;
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    if (argc < 5) fail("usage: pop3_client PORT USER PASSWORD retrieve|sessions [SECONDS]");
    static struct session s;
    const int port = atoi(argv[1]);
    if (strcmp(argv[4], "retrieve") == 0) {
        open_session(&s, port, argv[2], argv[3]);
        const int count = message_count(&s);
        s.received = 0;
        int asked = 0;
        for (int done = 0; done < count; ++done) {
            for (; asked < count && asked - done < kWindow; ++asked) {
                char number[16];
                snprintf(number, sizeof number, "%d", asked + 1);
                command(&s, "RETR %s\r\n", number);
            }
            skip_multiline(&s);
        }
        const unsigned long long bytes = s.received;
        close_session(&s);
        printf("%llu\n", bytes);
        return 0;
    }
    if (strcmp(argv[4], "sessions") == 0 && argc > 5) {
        const double until = now() + atof(argv[5]);
        long done = 0;
        while (now() < until) {
            open_session(&s, port, argv[2], argv[3]);
            message_count(&s);
            close_session(&s);
            ++done;
        }
        printf("%ld\n", done);
        return 0;
    }
    fail("unknown mode");
    return 1;
}
