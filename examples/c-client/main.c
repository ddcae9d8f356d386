/* A whole session: check the server's layout of PosRec, read its record,
 * write three records into a session file and learn from mv_sync() that
 * they are in it.
 *
 *   c_client HOST PORT [SESSION]
 *
 * Exit status 0 when the session is written, 2 when the server's layout is
 * not this program's, 1 for any other failure. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/client.h>

#include "Schema_Enum.h"
#include "posrec.h"

static int failed(mv_client *c, const char *what, int rc) {
    fprintf(stderr, "c_client: %s: %s: %s\n", what, mv_strerror(rc), mv_last_error(c));
    mv_disconnect(c);
    return rc == MV_ESCHEMA ? 2 : 1;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: c_client HOST PORT [SESSION]\n");
        return 1;
    }
    const char *session = argc > 3 ? argv[3] : "c_client.xml";
    mv_options options = MV_OPTIONS_INIT;
    options.io_timeout_ms = 3000;
    mv_client *c = NULL;
    int rc = mv_connect(&c, argv[1], atoi(argv[2]), &options);
    if (rc != MV_OK) return failed(NULL, "connect", rc);

    rc = mv_check_schema(c, E_SCHEMA_ENUM_POSREC, POSREC_SIZE, POSREC_FINGERPRINT);
    if (rc != MV_OK) return failed(c, "check", rc);

    POSREC record;
    size_t length = 0;
    rc = mv_read_record(c, E_SCHEMA_ENUM_POSREC, &record, sizeof record, &length);
    if (rc == MV_ENODATA)
        memset(&record, 0, sizeof record); /* no data file: start from zeros */
    else if (rc != MV_OK)
        return failed(c, "read", rc);

    if ((rc = mv_open_session(c, session)) != MV_OK) return failed(c, "open", rc);
    for (int i = 0; i < 3; ++i) {
        record.count = i + 1;
        record.mode = i % 2 ? ON : OFF;
        record.pos[1].x = 10 * i;
        rc = mv_write_record(c, E_SCHEMA_ENUM_POSREC, &record, sizeof record);
        if (rc != MV_OK) return failed(c, "write", rc);
    }
    if ((rc = mv_close_session(c)) != MV_OK) return failed(c, "close", rc);
    if ((rc = mv_sync(c)) != MV_OK) return failed(c, "sync", rc);
    printf("c_client: 3 records in %s\n", session);
    mv_disconnect(c);
    return 0;
}
