#include "demo/channel_app.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "channel/messages.h"

namespace morvane {

bool CChannelApp::Begin(int32_t port, uint32_t connectTimeoutMs, const char* address) {
    CHANNEL_PARAMS params = AppXsdTcpParams(kRoleClient, port, address);
    Init(params.channelName, "App", params);

    if (WaitConnection(connectTimeoutMs) != kWaitObject0 && connectTimeoutMs != kInfinite)
        return false;
    // Built apart from the frame buffer, which the receive thread owns.
    uint8_t request[kSizeRequestLength];
    WriteFrameHeader(request, MSG_COMM_SIZE, kSizeRequestLength);
    PutInt32(request + kSchemaIdOffset, kDemoSchemaId);
    SendData(request, kSizeRequestLength);
    Print(ChannelStream::kOut, "App Client send MSG_COMM_SIZE\n");
    return true;
}

void CChannelApp::OnConnection() {
    Print(ChannelStream::kOut, "CChannelApp::OnConnection() this=0x%X\n", Address());
}

void CChannelApp::OnError(int32_t code) {
    CChannel::OnError(code);
    Print(ChannelStream::kOut, "CChannelApp::OnError() this=0x%X  err=%d\n", Address(), code);
}

void CChannelApp::OnReceive() {
    uint8_t* frame = FrameBuffer();
    if (!ReceiveData(frame, kFrameHeaderSize)) {
        Reconnect();
        return;
    }
    const MSG_COMM_HEADER header = ReadFrameHeader(frame);
    Print(ChannelStream::kOut, "CChannelApp Client OnReceive - id=%d length=%d\n", header.id,
          header.length);
    if (header.id != MSG_COMM_ANSWER_SIZE && header.id != MSG_COMM_ANSWER_READ_XML) return;
    if (!FrameLengthFits(header.length, FrameBufferSize())) {
        // The stream cannot be followed past a length we refuse to read.
        Print(
            ChannelStream::kOut,
            "Error CChannelApp Client id=%d length=%d does not fit the frame buffer of %d bytes\n",
            header.id, header.length, FrameBufferSize());
        Reconnect();
        return;
    }
    if (header.id == MSG_COMM_ANSWER_SIZE)
        Processing_MsgCommAnswerSize(header.length);
    else
        Processing_MsgCommAnswerReadXml(header.length);
}

void CChannelApp::Processing_MsgCommAnswerSize(int32_t length) {
    if (!ReceiveBody(length)) return;
    uint8_t* frame = FrameBuffer();
    Print(ChannelStream::kOut, "App Client Processing_MsgCommAnswerSize\n");
    if (length < kAnswerSizeLength) {
        Print(ChannelStream::kOut, "Error App Client MSG_COMM_ANSWER_SIZE length=%d is too short\n",
              length);
        return;
    }
    const int32_t schemaId = GetInt32(frame + kSchemaIdOffset);
    const int32_t recordSize = GetInt32(frame + kRecordSizeOffset);
    Print(ChannelStream::kOut, "   schema_id=%d  schema_size=%d\n", schemaId, recordSize);
    const int32_t recordArea = FrameBufferSize() - kRecordOffset;
    if (recordSize < 0 || recordSize > recordArea) {
        Print(ChannelStream::kOut,
              "Error App Client schema_size=%d does not fit the record area of %d bytes\n",
              recordSize, recordArea);
        return;
    }
    record_ = std::vector<uint8_t>(static_cast<size_t>(recordSize));
    haveRecordSize_ = true;

    std::memset(frame + kRecordOffset, 0, static_cast<size_t>(recordSize));
    PutInt32(frame + kSchemaIdOffset, kDemoSchemaId);
    WriteFrameHeader(frame, MSG_COMM_READ_XML, recordSize + kRecordOffset);
    SendData(frame, recordSize + kRecordOffset);
    Print(ChannelStream::kOut, "CChannelApp Client sent MSG_COMM_READ_XML\n");
}

void CChannelApp::Processing_MsgCommAnswerReadXml(int32_t length) {
    if (!ReceiveBody(length)) return;
    uint8_t* frame = FrameBuffer();
    Print(ChannelStream::kOut, "CChannelApp Client  Processing_MsgCommAnswerReadXml\n");
    const auto recordSize = static_cast<int32_t>(record_.size());
    if (!haveRecordSize_) {
        Print(ChannelStream::kOut,
              "Error App Client MSG_COMM_ANSWER_READ_XML before the record size is known\n");
        return;
    }
    if (length < kRecordOffset + recordSize) {
        Print(ChannelStream::kOut,
              "Error App Client MSG_COMM_ANSWER_READ_XML length=%d is shorter than the record\n",
              length);
        return;
    }
    std::copy_n(frame + kRecordOffset, record_.size(), record_.begin());

    // The name goes out with its terminating zero.
    const auto nameLength = static_cast<int32_t>(sizeof kDemoSessionName);
    const int32_t openLength = kSessionNameOffset + nameLength;
    std::memcpy(frame + kSessionNameOffset, kDemoSessionName, sizeof kDemoSessionName);
    WriteFrameHeader(frame, MSG_COMM_OPEN_SESSION, openLength);
    SendData(frame, openLength);
    Print(ChannelStream::kOut, "App Client sent MSG_COMM_OPEN_SESSION length = %d\n", openLength);

    const int32_t writeLength = kRecordOffset + recordSize;
    WriteFrameHeader(frame, MSG_COMM_WRITE_XML, writeLength);
    PutInt32(frame + kSchemaIdOffset, kDemoSchemaId);
    std::copy(record_.begin(), record_.end(), frame + kRecordOffset);
    for (int i = 0; i < kDemoWrites; ++i) {
        SendData(frame, writeLength);
        Print(ChannelStream::kOut, "App Client sent MSG_COMM_WRITE_XML  length = %d  %d\n",
              writeLength, i);
    }

    WriteFrameHeader(frame, MSG_COMM_CLOSE_SESSION, kCloseSessionLength);
    SendData(frame, kCloseSessionLength);
    Print(ChannelStream::kOut, "App Client sent MSG_COMM_CLOSE_SESSION length = %d\n",
          kCloseSessionLength);
}

bool CChannelApp::ReceiveBody(int32_t length) {
    if (ReceiveData(FrameBuffer() + kFrameHeaderSize, length - kFrameHeaderSize)) return true;
    Reconnect();
    return false;
}

unsigned CChannelApp::Address() const {
    // The line shows the low 32 bits, as the format has always printed it.
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(this));
}

}  // namespace morvane
