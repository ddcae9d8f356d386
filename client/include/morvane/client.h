/* libmorvane-client: a C client of the Morvane record server.
 *
 *   mv_client *c;
 *   if (mv_connect(&c, "127.0.0.1", 25000, NULL) != MV_OK) ...mv_last_error(NULL)...
 *   mv_open_session(c, "run.xml");
 *   mv_write_record(c, POSREC_ID, &record, sizeof record);
 *   mv_close_session(c);
 *   int rc = mv_sync(c);              first failure since the last sync, or MV_OK
 *   mv_disconnect(c);
 *
 * Every call returns MV_OK (0) or one of the MV_E* codes; mv_strerror()
 * names a code and mv_last_error() gives the server's or the system's text
 * of the last failure. Opens, writes and closes are not answered by the
 * server: their failures come back from the next mv_sync(). Size and read
 * requests return their own failure at once.
 *
 * Threads: a client object belongs to one thread at a time; the library
 * keeps no global state but the text of the last failed mv_connect() of each
 * thread, and starts no thread of its own. Buffers are the caller's: the
 * library keeps no pointer to them beyond the call. No call aborts the
 * process or raises SIGPIPE. After an I/O failure or a timeout the
 * connection cannot be trusted to be in step: every later call returns
 * MV_EIO until mv_disconnect().
 */
#ifndef MORVANE_CLIENT_H
#define MORVANE_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MORVANE_CLIENT_VERSION_MAJOR 1
#define MORVANE_CLIENT_VERSION_MINOR 0

enum {
    MV_OK = 0,
    MV_ECONNECT = 1,         /* the server cannot be reached */
    MV_ETIMEOUT = 2,         /* the server did not answer within the I/O timeout */
    MV_EIO = 3,              /* a send or receive failed, or an earlier one did */
    MV_EPROTO = 4,           /* the server's bytes are not the protocol's */
    MV_EARG = 5,             /* an argument the call cannot use */
    MV_EUNKNOWN_SCHEMA = 6,  /* the server has no schema of that id */
    MV_ENODATA = 7,          /* no data file: the record read holds zeros */
    MV_ESESSION = 8,         /* session refused, not creatable, or none open */
    MV_ELENGTH = 9,          /* a record length that is not the schema's */
    MV_ESCHEMA = 10,         /* the server's layout is not the program's */
    MV_EDATA = 11,           /* the server could not read the data file */
    MV_EWRITE = 12,          /* the server could not write the session file */
    MV_ENOMEM = 13           /* memory could not be allocated */
};

typedef struct mv_client mv_client;

/* Options of mv_connect(). Initialise with MV_OPTIONS_INIT, then set what
 * is wanted: size tells the library which fields the program knows, so
 * that a program built against this version keeps working when later
 * versions add fields at the end. */
typedef struct mv_options {
    size_t size;            /* sizeof(mv_options), set by MV_OPTIONS_INIT */
    int connect_timeout_ms; /* 0: a sensible default (5000) */
    int io_timeout_ms;      /* 0: a sensible default (5000); each wait for the server */
} mv_options;

#define MV_OPTIONS_INIT {sizeof(mv_options), 0, 0}

/* Connects to host (a name or a dotted address) on port and asks the server
 * for its status once. On MV_OK *client is a new client, to be given to
 * mv_disconnect(); otherwise *client is NULL and mv_last_error(NULL) says
 * why. MV_EPROTO: the server does not answer the status request (it is
 * older than this library). options may be NULL. */
int mv_connect(mv_client **client, const char *host, int port, const mv_options *options);
/* Closes the connection and frees the client; NULL is allowed. */
void mv_disconnect(mv_client *client);

/* The record size of a schema (MV_EUNKNOWN_SCHEMA when there is none). */
int mv_record_size(mv_client *client, int32_t schema_id, int32_t *size);
/* Reads the schema's record from its data file on the server into record
 * (capacity bytes); *length receives the record size. MV_ENODATA: the
 * server has no data file, record holds the zero record it sent. MV_EARG
 * when capacity is below the record size (nothing copied). */
int mv_read_record(mv_client *client, int32_t schema_id, void *record, size_t capacity,
                   size_t *length);
/* Opens the session file file_name in the server's data directory (a
 * session open before is finished first). */
int mv_open_session(mv_client *client, const char *file_name);
/* Appends one record of the schema to the session file. */
int mv_write_record(mv_client *client, int32_t schema_id, const void *record, size_t length);
/* Finishes the session file. */
int mv_close_session(mv_client *client);
/* Waits until the server has handled every request sent before, and
 * returns the first failure it reported since the last mv_sync() (among
 * them those of earlier calls that return no failure of their own), or
 * MV_OK: MV_ESESSION for a refused session or a write without one,
 * MV_ELENGTH for a wrong length, MV_EWRITE for a writer failure. After
 * MV_OK every record written before is in the session file. */
int mv_sync(mv_client *client);
/* MV_OK when the server's layout of the schema has the size and layout
 * fingerprint given (NAME_SIZE and NAME_FINGERPRINT of a header generated
 * with header checks), MV_ESCHEMA when it differs, MV_EUNKNOWN_SCHEMA when
 * the server has no such schema. */
int mv_check_schema(mv_client *client, int32_t schema_id, int32_t size, uint64_t fingerprint);

/* The name of a code ("MV_ESESSION: session refused or none open"); a
 * static text. */
const char *mv_strerror(int code);
/* The server's or the system's text of the client's last failure ("" when
 * none), valid until the next call on the client. With NULL: the text of
 * the last mv_connect() of this thread that failed. */
const char *mv_last_error(const mv_client *client);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_CLIENT_H */
