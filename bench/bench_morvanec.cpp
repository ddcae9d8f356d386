// morvanec to-xml and to-binary on session files of 10, 200 and 2,000
// fields, against two floors that do the same work plainly in the same run
// and, at 200 fields, beside the in-process writer and reader they are
// built on and, where installed (scripts/setup-bench.sh), the schema
// compilers of two peer formats on equivalent data: flatc --binary / --json
// and protoc --encode / --decode.
//
//   build-rel/bench/bench_morvanec [RECORDS [FIELDS]]
//
// MORVANE_BENCH_KEEP=1 in the environment keeps the files converted.
//
// RECORDS records of 200 fields (default 20,000), and as many bytes of 10
// and of 2,000 fields (20 times and a tenth as many records). The record
// of g_fields fields cycles through char, int, int16, int64, unsigned,
// unsigned16, unsigned64, float, double and bool (900 bytes packed and
// about 11 KB of XML at 200 fields); float and double values have exact
// "%f" texts, so that the floors, which write "%f" alone, write what
// morvanec writes. The floors (see ToXmlFloor and ToBinaryFloor) read and
// write files where morvanec does and are checked to give the same bytes;
// each runs as a process of its own (forked), timed like morvanec by its
// CPU time, user and system, the least of three runs taken in turn.
//
// The peers get the same 200 fields with their nearest types
// (FlatBuffers: ubyte, int, short, long, uint, ushort, ulong, float, double,
// bool; Protocol Buffers: uint32, int32, int32, int64, uint32, uint32,
// uint64, float, double, bool) and the same values, all records in one
// vector (repeated field) of a root message, as those tools take one
// document per run. Every program is timed from start to exit, with its
// peak resident memory (ru_maxrss); the in-process figures are CPU loops
// over records in memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "bench/bench_records_data.h"
#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "schema/schema.h"

namespace fs = std::filesystem;
using namespace morvane;

namespace {

using namespace morvane::bench;

int g_fields = 200;  // the schema being converted

int g_records = 100000;

void Row(const char* what, const Run& run) { PrintRow(what, run, g_records, 36, "records/s"); }

// ---------------------------------------------------------------------------
// The floors: the least a converter of this schema can do, written plainly,
// reading and writing files where morvanec does. Both know the flat schema
// of the benchmark (fields f0, f1, ... of the ten types in turn).

struct FieldText {
    std::string head;  // "      <Item name=\"f7\" type=\"float\">"
    int kind;          // index into kSchemaKinds
    int offset;
};

struct SessionTexts {
    std::string recordHead = "   <Schema name=\"Bench\" id=\"1\" number=\"";
    std::string afterNumber;  // "\" offset=\"0\" size=\"900\">\n"
    std::vector<FieldText> fields;
    std::string tail = "</Item>\n";
    std::string recordEnd = "   </Schema>\n";
    std::string header = "<?xml version=\"1.0\"?>\n<Root>\n";
    std::string end = "</Root>\n";
    int recordSize = 0;

    SessionTexts() {
        for (int f = 0; f < g_fields; ++f) {
            const int kind = f % kKinds;
            fields.push_back({"      <Item name=\"f" + std::to_string(f) + "\" type=\"" +
                                  kSchemaKinds[kind] + "\">",
                              kind, recordSize});
            recordSize += kSizes[kind];
        }
        afterNumber = "\" offset=\"0\" size=\"" + std::to_string(recordSize) + "\">\n";
    }
};

template <class T>
T Load(const char* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

bool WriteAll(int fd, const std::string& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

constexpr size_t kPiece = size_t{1} << 20;

// Binary to session XML: each field's fixed text made once, the values
// formatted with std::to_chars ("%f" as fixed with 6 digits, "0x%X" for
// char, unsigned as the signed pattern the writer prints) into one buffer,
// written in 1 MB pieces.
bool ToXmlFloor(const std::string& in, const std::string& out) {
    const SessionTexts t;
    int ifd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    int ofd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (ifd < 0 || ofd < 0) return false;
    const size_t batch = std::max<size_t>(1, kPiece / t.recordSize) * t.recordSize;
    std::vector<char> records(batch);
    std::string text = t.header;
    text.reserve(2 * kPiece + 64 * t.fields.size() * 8);
    int number = 0;
    for (;;) {
        ssize_t n = ::read(ifd, records.data(), batch);
        if (n <= 0) break;
        for (const char* r = records.data(); r + t.recordSize <= records.data() + n; r += t.recordSize) {
            const size_t at = text.size();
            text.resize(at + t.recordHead.size() + 16 + t.afterNumber.size() + t.recordEnd.size() +
                        t.fields.size() * (64 + t.tail.size()) + 8 * 1024);
            char* p = text.data() + at;
            auto copy = [&p](const std::string& piece) {
                std::memcpy(p, piece.data(), piece.size());
                p += piece.size();
            };
            char* end = text.data() + text.size();
            copy(t.recordHead);
            p = std::to_chars(p, end, ++number).ptr;
            copy(t.afterNumber);
            for (const FieldText& f : t.fields) {
                copy(f.head);
                const char* v = r + f.offset;
                switch (f.kind) {
                    case 0: {
                        *p++ = '0';
                        *p++ = 'x';
                        char* q = p;
                        p = std::to_chars(p, end, static_cast<uint8_t>(*v), 16).ptr;
                        for (; q < p; ++q) *q = static_cast<char>(std::toupper(*q));
                        break;
                    }
                    case 2: p = std::to_chars(p, end, Load<int16_t>(v)).ptr; break;
                    case 3: p = std::to_chars(p, end, Load<int64_t>(v)).ptr; break;
                    case 5: p = std::to_chars(p, end, Load<uint16_t>(v)).ptr; break;
                    case 6: p = std::to_chars(p, end, Load<uint64_t>(v)).ptr; break;
                    case 7:
                        p = std::to_chars(p, end, static_cast<double>(Load<float>(v)),
                                          std::chars_format::fixed, 6).ptr;
                        break;
                    case 8: p = std::to_chars(p, end, Load<double>(v), std::chars_format::fixed, 6).ptr; break;
                    case 9: p = std::to_chars(p, end, static_cast<int>(static_cast<uint8_t>(*v))).ptr; break;
                    default: p = std::to_chars(p, end, Load<int32_t>(v)).ptr; break;  // int, unsigned
                }
                copy(t.tail);
            }
            copy(t.recordEnd);
            text.resize(static_cast<size_t>(p - text.data()));
            if (text.size() >= kPiece) {
                if (!WriteAll(ofd, text)) return false;
                text.clear();
            }
        }
    }
    text += t.end;
    bool ok = WriteAll(ofd, text);
    ::close(ifd);
    ::close(ofd);
    return ok;
}

// Session XML to binary: the text walked once; at each field the element
// name and the name and type attributes compared with memcmp against the
// layout (its fixed line text), the value converted with std::from_chars
// for its type (hexadecimal for char) and stored at its offset, the end
// tag compared; any other byte refuses the file. Read in 1 MB pieces,
// the output written in 1 MB pieces.
bool ToBinaryFloor(const std::string& in, const std::string& out) {
    const SessionTexts t;
    int ifd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    int ofd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (ifd < 0 || ofd < 0) return false;
    std::string window;
    size_t start = 0;
    bool eof = false;
    auto fill = [&](size_t want) {
        while (!eof && window.size() - start < want) {
            window.erase(0, start);
            start = 0;
            const size_t at = window.size();
            window.resize(at + kPiece);
            ssize_t n = ::read(ifd, window.data() + at, kPiece);
            window.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
            eof = n <= 0;
        }
    };
    auto take = [](const char*& p, const char* end, const std::string& piece) {
        if (static_cast<size_t>(end - p) < piece.size() ||
            std::memcmp(p, piece.data(), piece.size()) != 0)
            return false;
        p += piece.size();
        return true;
    };
    std::string output;
    std::vector<char> record(t.recordSize);
    size_t want = kPiece;
    fill(t.header.size());
    if (window.compare(0, t.header.size(), t.header) != 0) return false;
    start = t.header.size();
    for (;;) {
        fill(want);
        const char* p = window.data() + start;
        const char* end = window.data() + window.size();
        const char* first = p;
        if (take(p, end, t.end)) break;
        if (!take(p, end, t.recordHead)) return false;
        while (p < end && *p >= '0' && *p <= '9') ++p;
        if (!take(p, end, t.afterNumber)) return false;
        for (const FieldText& f : t.fields) {
            if (!take(p, end, f.head)) return false;
            const char* v = p;
            p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
            if (p == nullptr) return false;
            char* to = record.data() + f.offset;
            std::from_chars_result r{};
            auto put = [&](auto value) {
                r = std::from_chars(v, p, value);
                std::memcpy(to, &value, sizeof value);
            };
            switch (f.kind) {
                case 0: {
                    uint8_t c = 0;
                    if (p - v < 3 || v[0] != '0' || v[1] != 'x') return false;
                    r = std::from_chars(v + 2, p, c, 16);
                    *to = static_cast<char>(c);
                    break;
                }
                case 2: put(int16_t{}); break;
                case 3: put(int64_t{}); break;
                case 5: put(uint16_t{}); break;
                case 6: put(uint64_t{}); break;
                case 7: put(float{}); break;
                case 8: put(double{}); break;
                case 9: {
                    int32_t b = 0;
                    r = std::from_chars(v, p, b);
                    b = b != 0;
                    std::memcpy(to, &b, sizeof b);
                    break;
                }
                default: put(int32_t{}); break;  // int, unsigned
            }
            if (r.ec != std::errc() || r.ptr != p || !take(p, end, t.tail)) return false;
        }
        if (!take(p, end, t.recordEnd)) return false;
        want = std::max(kPiece, 2 * static_cast<size_t>(p - first));
        start = static_cast<size_t>(p - window.data());
        output.append(record.data(), record.size());
        if (output.size() >= kPiece) {
            if (!WriteAll(ofd, output)) return false;
            output.clear();
        }
    }
    bool ok = WriteAll(ofd, output);
    ::close(ifd);
    ::close(ofd);
    return ok;
}

// A floor run as a process of its own, like morvanec: forked (so without
// morvanec's start, which is a few milliseconds), timed from fork to exit
// with the child's CPU time, user and system, page faults of its fresh
// buffers included.
template <class F>
Run MeasureForked(F&& work) {
    auto start = std::chrono::steady_clock::now();
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) _exit(work() ? 0 : 1);
    Run run;
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Converts records of g_fields fields both ways with morvanec and the
// floors, then with the peers when asked; false when a run failed.
bool Convert(bool peers) {
    const std::string dir = MakeBenchDir("bench_morvanec");
    if (dir.empty()) return false;
    const std::string morvanec = std::string(MORVANE_BIN_DIR) + "/morvanec";

    // The schema and the packed records.
    const std::string xsd = BenchSchema(g_fields);
    std::string proto = "syntax = \"proto3\";\nmessage Record {\n";
    for (int f = 0; f < g_fields; ++f) {
        proto += "  " + std::string(kProtoKinds[f % kKinds]) + " f" + std::to_string(f) + " = " +
                 std::to_string(f + 1) + ";\n";
    }
    proto += "}\nmessage Records { repeated Record records = 1; }\n";
    std::ofstream(dir + "/bench.xsd") << xsd;
    std::ofstream(dir + "/records.proto") << proto;
    WritePackedRecords(dir + "/in.bin", g_records, g_fields);
    const int recordSize = BenchRecordSize(g_fields);

    std::printf("%d records of %d fields, %d bytes packed\n\n", g_records, g_fields, recordSize);
    // Each program runs kRounds times, the four in turn, and keeps its run
    // of least CPU time: the first run of each meets a colder page cache
    // and, on a shared machine, whatever else ran at the moment.
    constexpr int kRounds = 3;
    Run toXml, toBinary, xmlFloor, binaryFloor;
    // Every run writes a new file: an output left by the round before would
    // be compared with the new one rather than replaced (morvanec leaves an
    // identical target as it is), work the floors do not do.
    const auto fresh = [&dir](const char* name) { fs::remove(dir + "/" + name); };
    for (int round = 0; round < kRounds; ++round) {
        fresh("s.xml");
        fresh("out.bin");
        fresh("f.xml");
        fresh("f.bin");
        KeepLeast(toXml, Measure({morvanec, "to-xml", dir + "/bench.xsd", dir + "/in.bin", "-o",
                                  dir + "/s.xml"},
                                 "", ""));
        KeepLeast(toBinary, Measure({morvanec, "to-binary", dir + "/bench.xsd", dir + "/s.xml",
                                     "-o", dir + "/out.bin"},
                                    "", ""));
        KeepLeast(xmlFloor,
                  MeasureForked([&] { return ToXmlFloor(dir + "/in.bin", dir + "/f.xml"); }));
        KeepLeast(binaryFloor,
                  MeasureForked([&] { return ToBinaryFloor(dir + "/s.xml", dir + "/f.bin"); }));
    }
    const double xmlBytes = static_cast<double>(fs::file_size(dir + "/s.xml"));
    const bool same = ReadAll(dir + "/in.bin") == ReadAll(dir + "/out.bin");
    Row("morvanec to-xml", toXml);
    Row("morvanec to-binary", toBinary);
    Row("to_chars floor (binary to XML)", xmlFloor);
    Row("scanner floor (XML to binary)", binaryFloor);
    const bool floorsSame = ReadAll(dir + "/f.xml") == ReadAll(dir + "/s.xml") &&
                            ReadAll(dir + "/f.bin") == ReadAll(dir + "/in.bin");

    // In process: the writer and the reader under morvanec, on records in
    // memory (the reader on 1,000 record texts taken in turn).
    pugi::xml_document doc;
    doc.load_string(xsd.c_str(), pugi::parse_default | pugi::parse_comments);
    Schema schema;
    LoadSchema(schema, doc);
    std::string packed = ReadAll(dir + "/in.bin");
    std::string text;
    auto t0 = std::chrono::steady_clock::now();
    double c0 = ProcessCpu();
    for (int r = 0; r < g_records; ++r) {
        text.clear();
        AppendRecordXml(
            schema, r + 1,
            reinterpret_cast<const uint8_t*>(packed.data()) + static_cast<size_t>(r) * recordSize,
            recordSize, text);
    }
    Run writer;
    writer.status = 0;
    writer.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    writer.cpu = ProcessCpu() - c0;
    const int kept = std::min(g_records, 1000);
    std::vector<std::string> texts(static_cast<size_t>(kept));
    for (int r = 0; r < kept; ++r) {
        AppendRecordXml(schema, r + 1,
                        reinterpret_cast<const uint8_t*>(packed.data()) +
                            static_cast<size_t>(r % g_records) * recordSize,
                        recordSize, texts[r]);
    }
    std::vector<uint8_t> buffer(recordSize);
    ReadOptions strict;
    strict.strict = true;
    t0 = std::chrono::steady_clock::now();
    c0 = ProcessCpu();
    for (int r = 0; r < g_records; ++r) {
        ReadXmlText(schema, true, texts[r % kept], "bench", buffer.data(), recordSize, strict,
                    nullptr);
    }
    Run reader;
    reader.status = 0;
    reader.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    reader.cpu = ProcessCpu() - c0;
    Row("in-process writer (AppendRecordXml)", writer);
    Row("in-process reader (ReadXmlText)", reader);

    // The peers, on the same values.
    const bool flatc = peers && OnPath("flatc");
    const bool protoc = peers && OnPath("protoc");
    Run flatBinary, flatJson, protoEncode, protoDecode;
    if (flatc) {
        WriteFlatInput(dir, g_records);
        RunFlatc(dir, flatBinary, flatJson);
        Row("flatc --binary (JSON to binary)", flatBinary);
        Row("flatc --json (binary to JSON)", flatJson);
    } else if (peers) {
        std::printf("%-36s not installed (scripts/setup-bench.sh)\n", "flatc");
    }
    if (protoc) {
        std::ofstream txt(dir + "/records.txt");
        for (int r = 0; r < g_records; ++r) {
            std::string t = "records {";
            for (int f = 0; f < g_fields; ++f) t += " f" + std::to_string(f) + ": " + Value(r, f);
            txt << t << " }\n";
        }
    }
    if (protoc) {
        protoEncode =
            Measure({"protoc", "--encode=Records", "--proto_path=" + dir, "records.proto"},
                    dir + "/records.txt", dir + "/records.pb");
        Row("protoc --encode (text to binary)", protoEncode);
        protoDecode =
            Measure({"protoc", "--decode=Records", "--proto_path=" + dir, "records.proto"},
                    dir + "/records.pb", dir + "/records.out");
        Row("protoc --decode (binary to text)", protoDecode);
    } else if (peers) {
        std::printf("%-36s not installed (scripts/setup-bench.sh)\n", "protoc");
    }

    std::printf("\nround trip to-xml then to-binary: %s; %.1f KB of XML per record\n",
                same ? "the same bytes" : "BYTES DIFFER", xmlBytes / g_records / 1024);
    std::printf("CPU time, to-xml: %.2fx the in-process writer", toXml.cpu / writer.cpu);
    if (flatc && flatJson.status == 0)
        std::printf(", %.2fx less than flatc --json", flatJson.cpu / toXml.cpu);
    if (protoc && protoDecode.status == 0)
        std::printf(", %.2fx less than protoc --decode", protoDecode.cpu / toXml.cpu);
    std::printf("\nCPU time, to-binary: %.2fx the in-process reader", toBinary.cpu / reader.cpu);
    if (flatc && flatBinary.status == 0)
        std::printf(", %.2fx less than flatc --binary", flatBinary.cpu / toBinary.cpu);
    if (protoc && protoEncode.status == 0)
        std::printf(", %.2fx less than protoc --encode", protoEncode.cpu / toBinary.cpu);
    std::printf("\nCPU time against the floors (same bytes: %s): to-xml %.2fx the to_chars floor, "
                "to-binary %.2fx the scanner floor\n\n",
                floorsSame ? "yes" : "NO", toXml.cpu / xmlFloor.cpu, toBinary.cpu / binaryFloor.cpu);
    // MORVANE_BENCH_KEEP=1 keeps the files, for a profiler.
    if (std::getenv("MORVANE_BENCH_KEEP") != nullptr)
        std::printf("files kept in %s\n\n", dir.c_str());
    else
        fs::remove_all(dir);
    return toXml.status == 0 && toBinary.status == 0 && xmlFloor.status == 0 &&
           binaryFloor.status == 0 && same && floorsSame;
}

}  // namespace

int main(int argc, char** argv) {
    // The records of the 200-field schema; the others get as many bytes.
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    // A second argument picks one of the schemas (10, 200 or 2000 fields).
    const int only = argc > 2 ? std::atoi(argv[2]) : 0;
    bool ok = true;
    for (int fields : {10, 200, 2000}) {
        if (only != 0 && fields != only) continue;
        g_fields = fields;
        g_records = std::max(1, static_cast<int>(static_cast<int64_t>(records) * 200 / fields));
        ok = Convert(fields == 200) && ok;
    }
    std::printf("targets: to-xml and to-binary within 1.3x of their floors' CPU time; >= 25,000\n"
                "records/s each way at 200 fields, ahead of both peers\n");
    return ok ? 0 : 1;
}
