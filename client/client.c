/* libmorvane-client: frames of channel/messages_c.h over one TCP socket.
 *
 * The socket blocks with SO_RCVTIMEO and SO_SNDTIMEO set to the I/O
 * timeout, so no call hangs on a silent server; answers are read through a
 * buffer of the client's, so that the answers of one round trip take one
 * receive, and small frames are sent whole with one send.
 *
 * Requests that the server answers only when they succeed (size, read) are
 * followed at once by a status request, whose answer comes after theirs:
 * the status answer then tells why an answer did not come. When frames
 * whose failures have not been asked for yet were sent before (opens,
 * writes, closes), a status request goes first, so that the one behind the
 * request reports that request alone; both are sent with it, costing no
 * round trip of their own. What any status answer reports about earlier
 * requests is kept for mv_sync().
 */
#define _POSIX_C_SOURCE 200809L

#include "morvane/client.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <time.h>
#include <fcntl.h>
#include <unistd.h>

#include "channel/messages_c.h"

#define MV_DEFAULT_TIMEOUT_MS 5000
#define MV_ERROR_WIDTH (MSG_COMM_STATUS_MAX_TEXT + 128)
#define MV_INPUT_SIZE 65536
/* Frames up to this size are put together and sent with one send. */
#define MV_SMALL_FRAME 4096

struct mv_client {
    int fd;
    int io_timeout_ms;
    int broken;        /* an I/O failure or a timeout happened: MV_EIO from now on */
    int unasked;       /* frames sent whose failures no status answer has reported */
    int kept_code;     /* the first failure reported since the last sync (MV_E*), or 0 */
    char kept_text[MV_ERROR_WIDTH];
    char last_error[MV_ERROR_WIDTH];
    uint8_t *frame;    /* MSG_COMM_FRAME_BUFFER_SIZE bytes, the frame received last */
    uint8_t *in;       /* MV_INPUT_SIZE bytes received ahead of the frames read */
    size_t in_start, in_end;
};

/* What one status answer said. */
typedef struct {
    int32_t written;
    int32_t failures; /* all of them */
    int32_t listed;
    int32_t schema_part;
    int32_t record_size;
    uint64_t fingerprint;
    /* The first failure listed. */
    int first_code; /* MV_E*, 0 when none */
    int32_t first_schema_id;
    char first_text[MSG_COMM_STATUS_MAX_TEXT + 1];
    char name[256];
} status_answer;

#ifdef __GNUC__
#define MV_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define MV_PRINTF(a, b)
#endif

static __thread char connect_error[MV_ERROR_WIDTH];

static void set_text(char *to, const char *format, va_list args) {
    vsnprintf(to, MV_ERROR_WIDTH, format, args);
}

static int fail(mv_client *c, int code, const char *format, ...) MV_PRINTF(3, 4);
static int fail(mv_client *c, int code, const char *format, ...) {
    va_list args;
    va_start(args, format);
    set_text(c->last_error, format, args);
    va_end(args);
    return code;
}

/* An I/O failure or a timeout: the stream may be out of step for good. */
static int fail_io(mv_client *c, int code, const char *what, int err) {
    c->broken = 1;
    if (code == MV_ETIMEOUT)
        return fail(c, code, "%s: no answer within %d ms", what, c->io_timeout_ms);
    if (err == 0) return fail(c, code, "%s: the server closed the connection", what);
    return fail(c, code, "%s: %s", what, strerror(err));
}

/* Waits until fd is ready for events before deadline; 0, or MV_ETIMEOUT /
 * MV_EIO (errno kept). */
static int64_t now_ms(void);
static int wait_ready(int fd, short events, int64_t deadline) {
    for (;;) {
        int64_t left = deadline - now_ms();
        if (left < 0) left = 0;
        struct pollfd p = {fd, events, 0};
        int n = poll(&p, 1, (int)left);
        if (n > 0) return 0;
        if (n == 0) return MV_ETIMEOUT;
        if (errno != EINTR) return MV_EIO;
    }
}

static int64_t now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static void put32(uint8_t *p, int32_t value) {
    uint32_t v = (uint32_t)value;
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

static int32_t get32(const uint8_t *p) {
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                     (uint32_t)p[3] << 24);
}

static int timed_out(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

/* Sends the pieces whole. */
static int send_pieces(mv_client *c, struct iovec *pieces, int count) {
    uint8_t whole[MV_SMALL_FRAME];
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += pieces[i].iov_len;
    struct iovec joined;
    if (total <= sizeof whole && count > 1) {
        size_t at = 0;
        for (int i = 0; i < count; ++i) {
            memcpy(whole + at, pieces[i].iov_base, pieces[i].iov_len);
            at += pieces[i].iov_len;
        }
        joined.iov_base = whole;
        joined.iov_len = total;
        pieces = &joined;
        count = 1;
    }
    while (count > 0) {
        ssize_t n;
        if (count == 1) {
            n = send(c->fd, pieces->iov_base, pieces->iov_len, MSG_NOSIGNAL);
        } else {
            struct msghdr m;
            memset(&m, 0, sizeof m);
            m.msg_iov = pieces;
            m.msg_iovlen = (size_t)count;
            n = sendmsg(c->fd, &m, MSG_NOSIGNAL);
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail_io(c, timed_out(errno) ? MV_ETIMEOUT : MV_EIO, "send", errno);
        }
        size_t done = (size_t)n;
        while (count > 0 && done >= pieces->iov_len) {
            done -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = (uint8_t *)pieces->iov_base + done;
            pieces->iov_len -= done;
        }
    }
    return MV_OK;
}

static int send_bytes(mv_client *c, const void *data, size_t size) {
    struct iovec piece = {(void *)data, size};
    return send_pieces(c, &piece, 1);
}

/* Fills to with size bytes of the stream: what the input buffer holds,
 * then, for a large rest, straight from the socket, else through the
 * buffer. */
static int recv_exact(mv_client *c, uint8_t *to, size_t size) {
    size_t got = 0;
    while (got < size) {
        size_t held = c->in_end - c->in_start;
        if (held > 0) {
            size_t n = held < size - got ? held : size - got;
            memcpy(to + got, c->in + c->in_start, n);
            c->in_start += n;
            got += n;
            continue;
        }
        const int direct = size - got >= MV_INPUT_SIZE;
        ssize_t n = direct ? recv(c->fd, to + got, size - got, 0)
                           : recv(c->fd, c->in, MV_INPUT_SIZE, 0);
        if (n == 0) return fail_io(c, MV_EIO, "receive", 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail_io(c, timed_out(errno) ? MV_ETIMEOUT : MV_EIO, "receive", errno);
        }
        if (direct) {
            got += (size_t)n;
        } else {
            c->in_start = 0;
            c->in_end = (size_t)n;
        }
    }
    return MV_OK;
}

/* Receives one frame into c->frame; *id and *length from its header. */
static int recv_frame(mv_client *c, int32_t *id, int32_t *length) {
    int rc = recv_exact(c, c->frame, MSG_COMM_HEADER_SIZE);
    if (rc != MV_OK) return rc;
    *id = get32(c->frame);
    *length = get32(c->frame + 4);
    if (*length < MSG_COMM_HEADER_SIZE || *length > MSG_COMM_FRAME_BUFFER_SIZE) {
        c->broken = 1;
        return fail(c, MV_EPROTO, "a frame of id %d has the length %d", *id, *length);
    }
    return recv_exact(c, c->frame + MSG_COMM_HEADER_SIZE,
                      (size_t)(*length - MSG_COMM_HEADER_SIZE));
}

static int send_status(uint8_t *at, int32_t schema_id, int with_schema) {
    int32_t length = with_schema ? MSG_COMM_STATUS_SCHEMA_LENGTH : MSG_COMM_STATUS_LENGTH;
    put32(at, MSG_COMM_STATUS);
    put32(at + 4, length);
    if (with_schema) put32(at + MSG_COMM_SCHEMA_ID_OFFSET, schema_id);
    return length;
}

static int code_of_failure(int32_t code) {
    switch (code) {
        case MSG_COMM_FAIL_UNKNOWN_SCHEMA:
            return MV_EUNKNOWN_SCHEMA;
        case MSG_COMM_FAIL_NO_DATA_FILE:
            return MV_ENODATA;
        case MSG_COMM_FAIL_DATA_FILE:
            return MV_EDATA;
        case MSG_COMM_FAIL_NAME_REFUSED:
        case MSG_COMM_FAIL_NAME_TAKEN:
        case MSG_COMM_FAIL_SESSION_CREATE:
        case MSG_COMM_FAIL_NO_SESSION_WRITE:
        case MSG_COMM_FAIL_NO_SESSION_CLOSE:
            return MV_ESESSION;
        case MSG_COMM_FAIL_WRITE_LENGTH:
            return MV_ELENGTH;
        case MSG_COMM_FAIL_WRITER:
            return MV_EWRITE;
        default:
            return MV_EPROTO;
    }
}

/* Takes apart the status answer standing in c->frame (length bytes). */
static int parse_status(mv_client *c, int32_t length, status_answer *s) {
    const uint8_t *a = c->frame;
    memset(s, 0, sizeof *s);
    if (length < MSG_COMM_STATUS_NAME_OFFSET) goto malformed;
    s->written = get32(a + MSG_COMM_STATUS_WRITTEN_OFFSET);
    s->failures = get32(a + MSG_COMM_STATUS_FAILURES_OFFSET);
    s->listed = get32(a + MSG_COMM_STATUS_LISTED_OFFSET);
    s->schema_part = get32(a + MSG_COMM_STATUS_SCHEMA_PART_OFFSET);
    s->record_size = get32(a + MSG_COMM_STATUS_RECORD_SIZE_OFFSET);
    s->fingerprint = (uint64_t)(uint32_t)get32(a + MSG_COMM_STATUS_FINGERPRINT_OFFSET) |
                     (uint64_t)(uint32_t)get32(a + MSG_COMM_STATUS_FINGERPRINT_OFFSET + 4) << 32;
    int32_t name_length = get32(a + MSG_COMM_STATUS_NAME_LENGTH_OFFSET);
    if (s->listed < 0 || s->listed > s->failures || name_length < 0 ||
        name_length > length - MSG_COMM_STATUS_NAME_OFFSET)
        goto malformed;
    size_t keep = (size_t)name_length < sizeof s->name ? (size_t)name_length : sizeof s->name - 1;
    memcpy(s->name, a + MSG_COMM_STATUS_NAME_OFFSET, keep);
    int32_t at = MSG_COMM_STATUS_NAME_OFFSET + name_length;
    for (int32_t i = 0; i < s->listed; ++i) {
        if (length - at < 12) goto malformed;
        int32_t code = get32(a + at);
        int32_t schema_id = get32(a + at + 4);
        int32_t text_length = get32(a + at + 8);
        at += 12;
        if (text_length < 0 || text_length > length - at) goto malformed;
        if (i == 0) {
            s->first_code = code_of_failure(code);
            s->first_schema_id = schema_id;
            size_t n = text_length > MSG_COMM_STATUS_MAX_TEXT ? MSG_COMM_STATUS_MAX_TEXT
                                                              : (size_t)text_length;
            memcpy(s->first_text, a + at, n);
            s->first_text[n] = '\0';
        }
        at += text_length;
    }
    if (at != length) goto malformed;
    if (s->failures > 0 && s->first_code == 0) goto malformed;
    return MV_OK;
malformed:
    c->broken = 1;
    return fail(c, MV_EPROTO, "a status answer of %d bytes is malformed", length);
}

/* Keeps the first failure of a status answer for mv_sync(). */
static void keep_failures(mv_client *c, const status_answer *s) {
    c->unasked = 0;
    if (s->failures == 0 || c->kept_code != 0) return;
    c->kept_code = s->first_code;
    snprintf(c->kept_text, sizeof c->kept_text, "%s", s->first_text);
}

/* Receives frames up to and including a status answer, which is parsed
 * into *s. Size and read answers on the way are left to the caller
 * through *size_seen and *read_seen (c->frame holds the last one only: a
 * read answer must be the frame before the status answer, and is copied
 * out by the callback before it is overwritten). */
typedef struct {
    int size_seen;
    int32_t size;
    int read_seen;
    void *record;
    size_t capacity;
} answers;

static int recv_until_status(mv_client *c, answers *got, status_answer *s) {
    for (;;) {
        int32_t id, length;
        int rc = recv_frame(c, &id, &length);
        if (rc != MV_OK) return rc;
        if (id == MSG_COMM_ANSWER_STATUS) return parse_status(c, length, s);
        if (got != NULL && id == MSG_COMM_ANSWER_SIZE && length == MSG_COMM_ANSWER_SIZE_LENGTH) {
            got->size_seen = 1;
            got->size = get32(c->frame + MSG_COMM_RECORD_SIZE_OFFSET);
            continue;
        }
        if (got != NULL && id == MSG_COMM_ANSWER_READ_XML &&
            length == MSG_COMM_ANSWER_READ_XML_LENGTH && got->size_seen) {
            got->read_seen = 1;
            if (got->size >= 0 && (size_t)got->size <= got->capacity)
                memcpy(got->record, c->frame + MSG_COMM_RECORD_OFFSET, (size_t)got->size);
            continue;
        }
        c->broken = 1;
        return fail(c, MV_EPROTO, "an unexpected frame: id %d, length %d", id, length);
    }
}

static int usable(mv_client *c) {
    if (c == NULL) return MV_EARG;
    if (c->broken) return MV_EIO; /* last_error keeps the failure that broke it */
    return MV_OK;
}

/* Sends request (length bytes) with a status request behind it, and one
 * before it when earlier frames have not been asked about, then receives
 * up to the status answer behind the request. */
static int exchange(mv_client *c, const uint8_t *request, int32_t length, answers *got,
                    status_answer *s) {
    uint8_t before[MSG_COMM_STATUS_LENGTH];
    uint8_t after[MSG_COMM_STATUS_LENGTH];
    struct iovec pieces[3];
    int count = 0;
    const int ask_first = c->unasked;
    if (ask_first) {
        pieces[count].iov_base = before;
        pieces[count++].iov_len = (size_t)send_status(before, 0, 0);
    }
    pieces[count].iov_base = (void *)request;
    pieces[count++].iov_len = (size_t)length;
    pieces[count].iov_base = after;
    pieces[count++].iov_len = (size_t)send_status(after, 0, 0);
    int rc = send_pieces(c, pieces, count);
    if (rc != MV_OK) return rc;
    if (ask_first) {
        status_answer earlier;
        rc = recv_until_status(c, NULL, &earlier);
        if (rc != MV_OK) return rc;
        keep_failures(c, &earlier);
    }
    rc = recv_until_status(c, got, s);
    if (rc == MV_OK) c->unasked = 0;
    return rc;
}

/* The request's own failure from the status answer behind it, which
 * reports that request alone. */
static int own_failure(mv_client *c, const status_answer *s, int fallback, const char *what) {
    if (s->failures > 0) return fail(c, s->first_code, "%s", s->first_text);
    return fail(c, fallback, "%s", what);
}

int mv_connect(mv_client **client, const char *host, int port, const mv_options *options) {
    if (client != NULL) *client = NULL;
    connect_error[0] = '\0';
    int connect_timeout = MV_DEFAULT_TIMEOUT_MS;
    int io_timeout = MV_DEFAULT_TIMEOUT_MS;
    if (options != NULL) {
        const size_t need = offsetof(mv_options, connect_timeout_ms) + sizeof(int);
        if (options->size < need) {
            snprintf(connect_error, sizeof connect_error,
                     "options.size is %zu; initialise the options with MV_OPTIONS_INIT",
                     options->size);
            return MV_EARG;
        }
        if (options->connect_timeout_ms > 0) connect_timeout = options->connect_timeout_ms;
        if (options->size >= offsetof(mv_options, io_timeout_ms) + sizeof(int) &&
            options->io_timeout_ms > 0)
            io_timeout = options->io_timeout_ms;
        if (options->connect_timeout_ms < 0 ||
            (options->size >= offsetof(mv_options, io_timeout_ms) + sizeof(int) &&
             options->io_timeout_ms < 0)) {
            snprintf(connect_error, sizeof connect_error, "a timeout is negative");
            return MV_EARG;
        }
    }
    if (client == NULL || host == NULL || port < 1 || port > 65535) {
        snprintf(connect_error, sizeof connect_error,
                 "mv_connect needs a client pointer, a host and a port of 1 to 65535");
        return MV_EARG;
    }

    char service[8];
    snprintf(service, sizeof service, "%d", port);
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo *found = NULL;
    int gai = getaddrinfo(host, service, &hints, &found);
    if (gai != 0) {
        snprintf(connect_error, sizeof connect_error, "%s: %s", host, gai_strerror(gai));
        return MV_ECONNECT;
    }
    int fd = -1;
    int err = 0;
    int64_t deadline = now_ms() + connect_timeout;
    for (struct addrinfo *a = found; a != NULL && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        int rc = connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            rc = wait_ready(fd, POLLOUT, deadline);
            if (rc == MV_ETIMEOUT) {
                err = ETIMEDOUT;
                rc = -1;
            } else {
                int soerr = 0;
                socklen_t len = sizeof soerr;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
                err = soerr;
                rc = soerr == 0 ? 0 : -1;
            }
        } else if (rc != 0) {
            err = errno;
        }
        if (rc != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        snprintf(connect_error, sizeof connect_error, "%s port %d: %s", host, port, strerror(err));
        return MV_ECONNECT;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct timeval limit = {io_timeout / 1000, (io_timeout % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    mv_client *c = calloc(1, sizeof *c);
    uint8_t *frame = malloc(MSG_COMM_FRAME_BUFFER_SIZE);
    uint8_t *in = malloc(MV_INPUT_SIZE);
    if (c == NULL || frame == NULL || in == NULL) {
        free(c);
        free(frame);
        free(in);
        close(fd);
        snprintf(connect_error, sizeof connect_error, "out of memory");
        return MV_ENOMEM;
    }
    c->fd = fd;
    c->io_timeout_ms = io_timeout;
    c->frame = frame;
    c->in = in;

    /* A server that does not know the status request skips it in silence. */
    uint8_t request[MSG_COMM_STATUS_LENGTH];
    status_answer s;
    int rc = send_bytes(c, request, (size_t)send_status(request, 0, 0));
    if (rc == MV_OK) rc = recv_until_status(c, NULL, &s);
    if (rc == MV_ETIMEOUT) {
        rc = MV_EPROTO;
        snprintf(c->last_error, sizeof c->last_error,
                 "%s port %d does not answer the status request within %d ms", host, port,
                 io_timeout);
    }
    if (rc != MV_OK) {
        snprintf(connect_error, sizeof connect_error, "%s", c->last_error);
        mv_disconnect(c);
        return rc;
    }
    *client = c;
    return MV_OK;
}

void mv_disconnect(mv_client *client) {
    if (client == NULL) return;
    close(client->fd);
    free(client->frame);
    free(client->in);
    free(client);
}

int mv_record_size(mv_client *client, int32_t schema_id, int32_t *size) {
    int rc = usable(client);
    if (rc != MV_OK) return rc;
    if (size == NULL) return fail(client, MV_EARG, "mv_record_size needs a size pointer");
    uint8_t request[MSG_COMM_SIZE_REQUEST_LENGTH];
    put32(request, MSG_COMM_SIZE);
    put32(request + 4, MSG_COMM_SIZE_REQUEST_LENGTH);
    put32(request + MSG_COMM_SCHEMA_ID_OFFSET, schema_id);
    answers got = {0, 0, 0, NULL, 0};
    status_answer s;
    rc = exchange(client, request, MSG_COMM_SIZE_REQUEST_LENGTH, &got, &s);
    if (rc != MV_OK) return rc;
    if (!got.size_seen)
        return own_failure(client, &s, MV_EPROTO, "the size request was not answered");
    *size = got.size;
    return MV_OK;
}

int mv_read_record(mv_client *client, int32_t schema_id, void *record, size_t capacity,
                   size_t *length) {
    int rc = usable(client);
    if (rc != MV_OK) return rc;
    if (length == NULL || (record == NULL && capacity > 0))
        return fail(client, MV_EARG, "mv_read_record needs a length pointer and a buffer");
    /* The read answer carries the record area, not the record's size: the
     * size request in front tells it. */
    uint8_t request[MSG_COMM_SIZE_REQUEST_LENGTH + MSG_COMM_RECORD_OFFSET];
    put32(request, MSG_COMM_SIZE);
    put32(request + 4, MSG_COMM_SIZE_REQUEST_LENGTH);
    put32(request + MSG_COMM_SCHEMA_ID_OFFSET, schema_id);
    uint8_t *read = request + MSG_COMM_SIZE_REQUEST_LENGTH;
    put32(read, MSG_COMM_READ_XML);
    put32(read + 4, MSG_COMM_RECORD_OFFSET);
    put32(read + MSG_COMM_SCHEMA_ID_OFFSET, schema_id);
    answers got = {0, 0, 0, record, capacity};
    status_answer s;
    rc = exchange(client, request, (int32_t)sizeof request, &got, &s);
    if (rc != MV_OK) return rc;
    if (!got.size_seen)
        return own_failure(client, &s, MV_EPROTO, "the size request was not answered");
    if (got.size < 0) return fail(client, MV_EPROTO, "the record size %d is negative", got.size);
    *length = (size_t)got.size;
    if (!got.read_seen) return own_failure(client, &s, MV_EPROTO, "the read was not answered");
    if ((size_t)got.size > capacity)
        return fail(client, MV_EARG, "the buffer of %zu bytes is smaller than the record of %d",
                    capacity, got.size);
    if (s.failures > 0) return fail(client, s.first_code, "%s", s.first_text);
    return MV_OK;
}

int mv_open_session(mv_client *client, const char *file_name) {
    int rc = usable(client);
    if (rc != MV_OK) return rc;
    if (file_name == NULL) return fail(client, MV_EARG, "mv_open_session needs a file name");
    size_t n = strlen(file_name);
    /* A frame the server cannot hold would cost the connection. */
    if (n + 1 > (size_t)(MSG_COMM_FRAME_BUFFER_SIZE - MSG_COMM_SESSION_NAME_OFFSET))
        return fail(client, MV_ESESSION, "a session file name of %zu bytes cannot be sent", n);
    uint8_t header[MSG_COMM_HEADER_SIZE];
    put32(header, MSG_COMM_OPEN_SESSION);
    put32(header + 4, (int32_t)(MSG_COMM_SESSION_NAME_OFFSET + n + 1));
    struct iovec pieces[2] = {{header, sizeof header}, {(void *)file_name, n + 1}};
    rc = send_pieces(client, pieces, 2);
    if (rc == MV_OK) client->unasked = 1;
    return rc;
}

int mv_write_record(mv_client *client, int32_t schema_id, const void *record, size_t length) {
    int rc = usable(client);
    if (rc != MV_OK) return rc;
    if (record == NULL && length > 0) return fail(client, MV_EARG, "mv_write_record needs a record");
    if (length > (size_t)MSG_COMM_RECORD_AREA)
        return fail(client, MV_ELENGTH, "a record of %zu bytes does not fit a frame of %d",
                    length, MSG_COMM_FRAME_BUFFER_SIZE);
    uint8_t header[MSG_COMM_RECORD_OFFSET];
    put32(header, MSG_COMM_WRITE_XML);
    put32(header + 4, (int32_t)(MSG_COMM_RECORD_OFFSET + length));
    put32(header + MSG_COMM_SCHEMA_ID_OFFSET, schema_id);
    struct iovec pieces[2] = {{header, sizeof header}, {(void *)record, length}};
    rc = send_pieces(client, pieces, length > 0 ? 2 : 1);
    if (rc == MV_OK) client->unasked = 1;
    return rc;
}

int mv_close_session(mv_client *client) {
    int rc = usable(client);
    if (rc != MV_OK) return rc;
    uint8_t request[MSG_COMM_CLOSE_SESSION_LENGTH];
    put32(request, MSG_COMM_CLOSE_SESSION);
    put32(request + 4, MSG_COMM_CLOSE_SESSION_LENGTH);
    rc = send_bytes(client, request, sizeof request);
    if (rc == MV_OK) client->unasked = 1;
    return rc;
}

int mv_sync(mv_client *client) {
    int rc = usable(client);
    if (rc != MV_OK) return rc;
    uint8_t request[MSG_COMM_STATUS_LENGTH];
    rc = send_bytes(client, request, (size_t)send_status(request, 0, 0));
    status_answer s;
    if (rc == MV_OK) rc = recv_until_status(client, NULL, &s);
    if (rc != MV_OK) return rc;
    keep_failures(client, &s);
    int code = client->kept_code;
    client->kept_code = 0;
    if (code == 0) return MV_OK;
    return fail(client, code, "%s", client->kept_text);
}

int mv_check_schema(mv_client *client, int32_t schema_id, int32_t size, uint64_t fingerprint) {
    int rc = usable(client);
    if (rc != MV_OK) return rc;
    uint8_t request[MSG_COMM_STATUS_SCHEMA_LENGTH];
    rc = send_bytes(client, request, (size_t)send_status(request, schema_id, 1));
    status_answer s;
    if (rc == MV_OK) rc = recv_until_status(client, NULL, &s);
    if (rc != MV_OK) return rc;
    keep_failures(client, &s);
    if (s.schema_part != MSG_COMM_STATUS_SCHEMA_LOADED)
        return fail(client, MV_EUNKNOWN_SCHEMA, "the server has no schema of id %d", schema_id);
    if (s.record_size != size || s.fingerprint != fingerprint)
        return fail(client, MV_ESCHEMA,
                    "the server lays out %s (id %d) in %d bytes with the fingerprint 0x%016llx; "
                    "this program in %d bytes with 0x%016llx",
                    s.name, schema_id, s.record_size, (unsigned long long)s.fingerprint, size,
                    (unsigned long long)fingerprint);
    return MV_OK;
}

const char *mv_strerror(int code) {
    switch (code) {
        case MV_OK: return "MV_OK: success";
        case MV_ECONNECT: return "MV_ECONNECT: the server cannot be reached";
        case MV_ETIMEOUT: return "MV_ETIMEOUT: the server did not answer in time";
        case MV_EIO: return "MV_EIO: the connection failed";
        case MV_EPROTO: return "MV_EPROTO: the server does not speak the protocol";
        case MV_EARG: return "MV_EARG: an argument cannot be used";
        case MV_EUNKNOWN_SCHEMA: return "MV_EUNKNOWN_SCHEMA: no schema has that id";
        case MV_ENODATA: return "MV_ENODATA: no data file, the record holds zeros";
        case MV_ESESSION: return "MV_ESESSION: session refused or none open";
        case MV_ELENGTH: return "MV_ELENGTH: the record length is not the schema's";
        case MV_ESCHEMA: return "MV_ESCHEMA: the server's layout differs from the program's";
        case MV_EDATA: return "MV_EDATA: the data file could not be read";
        case MV_EWRITE: return "MV_EWRITE: the session file could not be written";
        case MV_ENOMEM: return "MV_ENOMEM: out of memory";
        default: return "unknown error code";
    }
}

const char *mv_last_error(const mv_client *client) {
    return client != NULL ? client->last_error : connect_error;
}
