#include "server_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "channel/messages.h"

namespace morvane::test {

MorvaneServer::MorvaneServer(int port, const std::string& extraIni) : port_(port) {
    MakeProgramDir(dir_.path(), {"Morvane"}, true);
    std::string ini = "[General]\n";
    if (port != 0) ini += "Port=" + std::to_string(port) + "\n";
    ini += extraIni;
    WriteFile(dir_ / "Morvane.ini", ini);
    if (port_ == 0) port_ = 25000;
}

bool MorvaneServer::Start(std::chrono::milliseconds timeout) {
    program_ = std::make_unique<BackgroundProgram>(dir_ / "Morvane", std::vector<std::string>{},
                                                   dir_.path());
    return WaitFor([&] { return ListenCount() >= 1 || !program_->Running(); }, timeout) &&
           ListenCount() >= 1 && program_->Running();
}

std::string MorvaneServer::Log() const { return ReadFile(dir_ / "Morvane.log"); }

int MorvaneServer::LogCount(const std::string& line) const { return CountOf(Log(), line); }

bool MorvaneServer::WaitLog(const std::string& line, int n,
                            std::chrono::milliseconds timeout) const {
    return WaitFor([&] { return LogCount(line) >= n; }, timeout);
}

int MorvaneServer::ListenCount() const {
    return CountOf(ReadFile(dir_ / ".stderr"), "TCP Server is listening...\n");
}

Socket MorvaneServer::ConnectWhenListening(int n) {
    // Connecting before the server listens again would land in the backlog
    // of the listening socket that the reconnection is about to close.
    if (!WaitFor([&] { return ListenCount() >= n; })) return Socket();
    return Connect(port_, std::chrono::seconds(5));
}

Socket MorvaneServer::NextClient() { return ConnectWhenListening(++clients_); }

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size()))
        ++n;
    return n;
}

std::vector<uint8_t> SizeRequest(int32_t schemaId) {
    return Frame(MSG_COMM_SIZE, Int32Body({schemaId}));
}

std::vector<uint8_t> ReadRequest(int32_t schemaId, const std::vector<uint8_t>& initial) {
    std::vector<uint8_t> body = Int32Body({schemaId});
    Append(body, initial);
    return Frame(MSG_COMM_READ_XML, body);
}

std::vector<uint8_t> OpenSession(const std::string& name) {
    std::vector<uint8_t> body(name.begin(), name.end());
    body.push_back(0);
    return Frame(MSG_COMM_OPEN_SESSION, body);
}

std::vector<uint8_t> CloseSession() { return Frame(MSG_COMM_CLOSE_SESSION, {}); }

std::vector<uint8_t> WriteRequest(int32_t schemaId, const std::vector<uint8_t>& record) {
    std::vector<uint8_t> body = Int32Body({schemaId});
    Append(body, record);
    return Frame(MSG_COMM_WRITE_XML, body);
}

std::string TelemetryRecordText(int number) {
    return "   <Schema name=\"Telemetry\" id=\"1\" number=\"" + std::to_string(number) +
           "\" offset=\"0\" size=\"82\">\n"
           "      <Item name=\"frame\" type=\"unsigned\">1</Item>\n"
           "      <Item name=\"tag\" type=\"char\">0x41</Item>\n"
           "      <Item name=\"level\" type=\"int\">-42</Item>\n"
           "      <Item name=\"delta\" type=\"int16\">-7</Item>\n"
           "      <Item name=\"stamp\" type=\"int64\">1234567890123</Item>\n"
           "      <Item name=\"total\" type=\"unsigned64\">18446744073709551615</Item>\n"
           "      <Item name=\"ratio\" type=\"double\">3.141593</Item>\n"
           "      <Item name=\"valid\" type=\"bool\">1</Item>\n"
           "      <Item name=\"note\" type=\"text\"></Item>\n"
           "      <Item_enum name=\"status\" type=\"Status\">1</Item_enum>\n"
           "      <Item_enum name=\"history\" type=\"Status\" index=\"0\">0</Item_enum>\n"
           "      <Item_enum name=\"history\" type=\"Status\" index=\"1\">7</Item_enum>\n"
           "      <Item name=\"spare\" type=\"char\" nrepetitions=\"4\"/>\n"
           "      <Item name=\"code\" type=\"char\" index=\"0\">0x4D</Item>\n"
           "      <Item name=\"code\" type=\"char\" index=\"1\">0x56</Item>\n"
           "      <Item name=\"code\" type=\"char\" index=\"2\">0x4E</Item>\n"
           "      <Structure name=\"samples\" offset=\"58\" size=\"8\" index=\"0\">\n"
           "         <Item name=\"channel\" type=\"int16\">1</Item>\n"
           "         <Item name=\"value\" type=\"float\">20.500000</Item>\n"
           "         <Item name=\"quality\" type=\"unsigned16\">100</Item>\n"
           "      </Structure>\n"
           "      <Structure name=\"samples\" offset=\"66\" size=\"8\" index=\"1\">\n"
           "         <Item name=\"channel\" type=\"int16\">2</Item>\n"
           "         <Item name=\"value\" type=\"float\">-3.250000</Item>\n"
           "         <Item name=\"quality\" type=\"unsigned16\">65535</Item>\n"
           "      </Structure>\n"
           "      <Structure name=\"samples\" offset=\"74\" size=\"8\" index=\"2\">\n"
           "         <Item name=\"channel\" type=\"int16\">3</Item>\n"
           "         <Item name=\"value\" type=\"float\">0.125000</Item>\n"
           "         <Item name=\"quality\" type=\"unsigned16\">0</Item>\n"
           "      </Structure>\n"
           "   </Schema>\n";
}

std::vector<uint8_t> PosRecRecord(const PosRecValues& v) {
    // count @0, flags char[4] @4, mode @8, pos[2] of {x, y} @12.
    std::vector<uint8_t> record = Int32Body({v.count, 0, v.mode, v.x0, v.y0, v.x1, v.y1});
    record[4] = 'a';
    record[5] = 'b';
    return record;
}

// y1 = n * n, wrapped at 32 bits as the record stores it (no signed overflow).
PosRecValues PosRecOf(int n) {
    const auto square = static_cast<int32_t>(static_cast<uint32_t>(n) * static_cast<uint32_t>(n));
    return PosRecValues{n, n % 2, n * 3, -n, 1000000 + n, square};
}

std::vector<uint8_t> PosRecRecordOf(int n) { return PosRecRecord(PosRecOf(n)); }

std::string PosRecRecordText(int number, const PosRecValues& v) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "   <Schema name=\"PosRec\" id=\"7\" number=\"%d\" offset=\"0\" size=\"28\">\n"
                  "      <Item name=\"count\" type=\"int\">%d</Item>\n"
                  "      <Item name=\"flags\" type=\"char\" nrepetitions=\"4\"/>\n"
                  "      <Item_enum name=\"mode\" type=\"Mode\">%d</Item_enum>\n"
                  "      <Structure name=\"pos\" offset=\"12\" size=\"8\" index=\"0\">\n"
                  "         <Item name=\"x\" type=\"int\">%d</Item>\n"
                  "         <Item name=\"y\" type=\"int\">%d</Item>\n"
                  "      </Structure>\n"
                  "      <Structure name=\"pos\" offset=\"20\" size=\"8\" index=\"1\">\n"
                  "         <Item name=\"x\" type=\"int\">%d</Item>\n"
                  "         <Item name=\"y\" type=\"int\">%d</Item>\n"
                  "      </Structure>\n"
                  "   </Schema>\n",
                  number, v.count, v.mode, v.x0, v.y0, v.x1, v.y1);
    return text;
}

std::string SessionText(const std::vector<std::string>& records) {
    std::string text = "<?xml version=\"1.0\"?>\n<Root>\n";
    for (const auto& r : records) text += r;
    return text + "</Root>\n";
}

std::vector<uint8_t> StatusRequest(int32_t schemaId) {
    return Frame(MSG_COMM_STATUS, schemaId < 0 ? std::vector<uint8_t>{} : Int32Body({schemaId}));
}

std::optional<StatusAnswer> RecvStatus(const Socket& s) {
    auto header = RecvExact(s, kFrameHeaderSize);
    if (!header) {
        ADD_FAILURE() << "no status answer";
        return std::nullopt;
    }
    const MSG_COMM_HEADER h = ReadFrameHeader(header->data());
    if (h.id != MSG_COMM_ANSWER_STATUS || h.length < MSG_COMM_STATUS_NAME_OFFSET ||
        h.length > kFrameBufferSize) {
        ADD_FAILURE() << "not a status answer: id " << h.id << " length " << h.length;
        return std::nullopt;
    }
    auto body = RecvExact(s, static_cast<size_t>(h.length - kFrameHeaderSize));
    if (!body) {
        ADD_FAILURE() << "status answer cut short";
        return std::nullopt;
    }
    std::vector<uint8_t> a = *header;
    Append(a, *body);
    auto at = [&](size_t offset) { return GetInt32(a.data() + offset); };
    StatusAnswer r;
    r.written = at(MSG_COMM_STATUS_WRITTEN_OFFSET);
    r.failures = at(MSG_COMM_STATUS_FAILURES_OFFSET);
    const int32_t listed = at(MSG_COMM_STATUS_LISTED_OFFSET);
    r.schemaPart = at(MSG_COMM_STATUS_SCHEMA_PART_OFFSET);
    r.schemaId = at(MSG_COMM_STATUS_SCHEMA_ID_OFFSET);
    r.recordSize = at(MSG_COMM_STATUS_RECORD_SIZE_OFFSET);
    r.fingerprint = static_cast<uint32_t>(at(MSG_COMM_STATUS_FINGERPRINT_OFFSET)) |
                    static_cast<uint64_t>(static_cast<uint32_t>(
                        at(MSG_COMM_STATUS_FINGERPRINT_OFFSET + 4)))
                        << 32;
    size_t pos = MSG_COMM_STATUS_NAME_OFFSET;
    const auto nameLength = static_cast<size_t>(at(MSG_COMM_STATUS_NAME_LENGTH_OFFSET));
    if (nameLength > a.size() - pos) {
        ADD_FAILURE() << "name beyond the answer";
        return std::nullopt;
    }
    r.name.assign(a.begin() + static_cast<ptrdiff_t>(pos),
                  a.begin() + static_cast<ptrdiff_t>(pos + nameLength));
    pos += nameLength;
    for (int32_t i = 0; i < listed; ++i) {
        if (a.size() - pos < 12) {
            ADD_FAILURE() << "failure " << i << " beyond the answer";
            return std::nullopt;
        }
        StatusFailure f{at(pos), at(pos + 4), {}};
        const auto textLength = static_cast<size_t>(at(pos + 8));
        pos += 12;
        if (textLength > a.size() - pos) {
            ADD_FAILURE() << "text of failure " << i << " beyond the answer";
            return std::nullopt;
        }
        f.text.assign(a.begin() + static_cast<ptrdiff_t>(pos),
                      a.begin() + static_cast<ptrdiff_t>(pos + textLength));
        pos += textLength;
        r.listed.push_back(std::move(f));
    }
    if (pos != a.size()) {
        ADD_FAILURE() << "status answer of " << a.size() << " bytes holds " << pos;
        return std::nullopt;
    }
    return r;
}

}  // namespace morvane::test
