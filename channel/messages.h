// The frames that Morvane and its clients exchange over a channel.
//
// Every message is one frame: an 8-byte header and a body. All integers,
// in the header and in the bodies, are 32-bit little-endian.
//
//    0         4         8                             length
//    +---------+---------+-------------------------------+
//    |   id    | length  | body: length - 8 bytes        |
//    +---------+---------+-------------------------------+
//
// length counts the whole frame, header included. Bodies by id:
//
//   id 0 MSG_COMM_SIZE             client -> server, length 12
//        8: schema id
//   id 1 MSG_COMM_ANSWER_SIZE      server -> client, length 16
//        8: schema id   12: record size in bytes
//   id 2 MSG_COMM_READ_XML         client -> server, length 12 + n
//        8: schema id   12: n bytes, the initial contents of the answer's record
//   id 3 MSG_COMM_ANSWER_READ_XML  server -> client, length 100012, always
//        8: schema id   12: record area of 100000 bytes; its first
//                           record-size bytes are the record
//   id 4 MSG_COMM_OPEN_SESSION     client -> server, length 8 + name length + 1
//        8: session file name and its terminating zero byte
//   id 5 MSG_COMM_CLOSE_SESSION    client -> server, length 8, no body
//   id 6 MSG_COMM_WRITE_XML        client -> server, length 12 + record size
//        8: schema id   12: the record
//   id 7 MSG_COMM_STATUS           client -> server, length 8, or 12 with
//        8: schema id of the schema whose layout the answer carries
//   id 8 MSG_COMM_ANSWER_STATUS    server -> client, length 44 and more:
//        what became of the connection's requests since its previous
//        status request (layout in channel/messages_c.h)
//
// A receiver reads the header into offset 0 of its frame buffer and then the
// body into offset 8, so the whole frame stands in the buffer. Both sides size
// that buffer at kFrameBufferSize, which holds the largest frame (the read
// answer). Only size, read and status requests are answered; a status
// answer follows the handling of every earlier frame of its connection.
//
// The ids and offsets stand in channel/messages_c.h, for C programs too.
#pragma once

#include <cstdint>

#include "channel/messages_c.h"

namespace morvane {

using ::MSG_COMM_SIZE;
using ::MSG_COMM_ANSWER_SIZE;
using ::MSG_COMM_READ_XML;
using ::MSG_COMM_ANSWER_READ_XML;
using ::MSG_COMM_OPEN_SESSION;
using ::MSG_COMM_CLOSE_SESSION;
using ::MSG_COMM_WRITE_XML;
using ::MSG_COMM_STATUS;
using ::MSG_COMM_ANSWER_STATUS;

// The frame header as it stands in a frame buffer (host order after
// ReadFrameHeader()).
struct MSG_COMM_HEADER {
    int32_t id;
    int32_t length;
};

constexpr int32_t kFrameHeaderSize = MSG_COMM_HEADER_SIZE;
// Body offsets.
constexpr int32_t kSchemaIdOffset = MSG_COMM_SCHEMA_ID_OFFSET;
constexpr int32_t kRecordSizeOffset = MSG_COMM_RECORD_SIZE_OFFSET;  // MSG_COMM_ANSWER_SIZE
constexpr int32_t kRecordOffset = MSG_COMM_RECORD_OFFSET;  // READ_XML, ANSWER_READ_XML, WRITE_XML
constexpr int32_t kSessionNameOffset = MSG_COMM_SESSION_NAME_OFFSET;  // MSG_COMM_OPEN_SESSION

constexpr int32_t kRecordArea = MSG_COMM_RECORD_AREA;
constexpr int32_t kSizeRequestLength = MSG_COMM_SIZE_REQUEST_LENGTH;
constexpr int32_t kAnswerSizeLength = MSG_COMM_ANSWER_SIZE_LENGTH;
constexpr int32_t kAnswerReadXmlLength = kRecordOffset + kRecordArea;  // 100012
constexpr int32_t kCloseSessionLength = MSG_COMM_CLOSE_SESSION_LENGTH;
static_assert(kAnswerReadXmlLength == MSG_COMM_ANSWER_READ_XML_LENGTH);
// A frame buffer that holds every frame of the protocol whole.
constexpr int32_t kFrameBufferSize = kAnswerReadXmlLength;
static_assert(kFrameBufferSize == MSG_COMM_FRAME_BUFFER_SIZE);

inline int32_t GetInt32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

inline void PutInt32(uint8_t* p, int32_t value) {
    auto v = static_cast<uint32_t>(value);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline MSG_COMM_HEADER ReadFrameHeader(const uint8_t* frame) {
    return MSG_COMM_HEADER{GetInt32(frame), GetInt32(frame + 4)};
}

inline void WriteFrameHeader(uint8_t* frame, int32_t id, int32_t length) {
    PutInt32(frame, id);
    PutInt32(frame + 4, length);
}

// True when a frame of this length can be read whole into a frame buffer of
// bufferSize bytes: at least a header, at most the buffer. A receiver refuses
// any other length before reading a body byte.
inline bool FrameLengthFits(int32_t length, int32_t bufferSize) {
    return length >= kFrameHeaderSize && length <= bufferSize;
}

}  // namespace morvane
