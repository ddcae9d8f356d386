/* The frames of the client protocol for C and C++ programs alike: message
 * ids, frame lengths and body offsets. channel/messages.h draws the frames
 * and adds the C++ helpers; docs/channel.md describes every body.
 *
 * Every integer, in the header and in the bodies, is little-endian.
 *
 *    0         4         8                             length
 *    +---------+---------+-------------------------------+
 *    |   id    | length  | body: length - 8 bytes        |
 *    +---------+---------+-------------------------------+
 *
 * The status answer (MSG_COMM_ANSWER_STATUS), all int32 but the
 * fingerprint:
 *
 *    8 records written   12 failures N   16 failures listed k = min(N, 16)
 *   20 schema part (0 none asked, 1 loaded, 2 not loaded)   24 schema id
 *   28 record size      32 uint64 layout fingerprint      40 name length L
 *   44 L bytes of the schema's name, then k failures, each:
 *        code, schema id of the request, text length T, T bytes of text
 */
#ifndef MORVANE_CHANNEL_MESSAGES_C_H
#define MORVANE_CHANNEL_MESSAGES_C_H

enum {
    MSG_COMM_SIZE = 0,
    MSG_COMM_ANSWER_SIZE = 1,
    MSG_COMM_READ_XML = 2,
    MSG_COMM_ANSWER_READ_XML = 3,
    MSG_COMM_OPEN_SESSION = 4,
    MSG_COMM_CLOSE_SESSION = 5,
    MSG_COMM_WRITE_XML = 6,
    MSG_COMM_STATUS = 7,
    MSG_COMM_ANSWER_STATUS = 8
};

enum {
    MSG_COMM_HEADER_SIZE = 8,
    /* Bodies. */
    MSG_COMM_SCHEMA_ID_OFFSET = 8,
    MSG_COMM_RECORD_SIZE_OFFSET = 12, /* MSG_COMM_ANSWER_SIZE */
    MSG_COMM_RECORD_OFFSET = 12,      /* READ_XML, ANSWER_READ_XML, WRITE_XML */
    MSG_COMM_SESSION_NAME_OFFSET = 8, /* MSG_COMM_OPEN_SESSION */
    MSG_COMM_RECORD_AREA = 100000,
    MSG_COMM_SIZE_REQUEST_LENGTH = 12,
    MSG_COMM_ANSWER_SIZE_LENGTH = 16,
    MSG_COMM_ANSWER_READ_XML_LENGTH = 100012,
    MSG_COMM_CLOSE_SESSION_LENGTH = 8,
    /* The status request: 8 bytes, or 12 with the schema id at 8. */
    MSG_COMM_STATUS_LENGTH = 8,
    MSG_COMM_STATUS_SCHEMA_LENGTH = 12,
    /* The status answer. */
    MSG_COMM_STATUS_WRITTEN_OFFSET = 8,
    MSG_COMM_STATUS_FAILURES_OFFSET = 12,
    MSG_COMM_STATUS_LISTED_OFFSET = 16,
    MSG_COMM_STATUS_SCHEMA_PART_OFFSET = 20,
    MSG_COMM_STATUS_SCHEMA_ID_OFFSET = 24,
    MSG_COMM_STATUS_RECORD_SIZE_OFFSET = 28,
    MSG_COMM_STATUS_FINGERPRINT_OFFSET = 32,
    MSG_COMM_STATUS_NAME_LENGTH_OFFSET = 40,
    MSG_COMM_STATUS_NAME_OFFSET = 44,
    MSG_COMM_STATUS_MAX_LISTED = 16,
    MSG_COMM_STATUS_MAX_TEXT = 1024,
    /* The largest frame of the protocol, the read answer. */
    MSG_COMM_FRAME_BUFFER_SIZE = 100012
};

/* The schema part of a status answer. */
enum {
    MSG_COMM_STATUS_NO_SCHEMA = 0,
    MSG_COMM_STATUS_SCHEMA_LOADED = 1,
    MSG_COMM_STATUS_SCHEMA_ABSENT = 2
};

/* Failure codes of a status answer. */
enum {
    MSG_COMM_FAIL_UNKNOWN_SCHEMA = 1,   /* no schema has the request's id */
    MSG_COMM_FAIL_NO_DATA_FILE = 2,     /* a read answered with a zero record */
    MSG_COMM_FAIL_DATA_FILE = 3,        /* the data file could not be read */
    MSG_COMM_FAIL_NAME_REFUSED = 4,     /* session file name refused */
    MSG_COMM_FAIL_NAME_TAKEN = 5,       /* session file open by another client */
    MSG_COMM_FAIL_SESSION_CREATE = 6,   /* session file could not be created */
    MSG_COMM_FAIL_NO_SESSION_WRITE = 7, /* a write with no session open */
    MSG_COMM_FAIL_WRITE_LENGTH = 8,     /* a write whose length is not the record's */
    MSG_COMM_FAIL_WRITER = 9,           /* the session writer failed */
    MSG_COMM_FAIL_NO_SESSION_CLOSE = 10 /* a close with no session open */
};

#endif /* MORVANE_CHANNEL_MESSAGES_C_H */
