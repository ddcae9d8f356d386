// Converting records between XML data files and binary, against honest
// floors measured in the same run.
//
// Data: records of 10, 200, 2,000 and 20,000 fields of mixed types (up to
// 100 fields at the top, the rest in repetitions of a 10-field member
// structure); 200 fields are about 11.6 KB of XML, 20,000 about 1.2 MB.
// Each data file is written by WriteXmlFile itself.
//
// Paths, each timed per record:
//   read         ReadXmlFile, store flag 1 (uncached: the file is read and
//                parsed every time);
//   read floor   the least any reader can do for the same stores: the file
//                read into a reused buffer, pugixml parsing it in place, one
//                walk converting each value with the project's own
//                conversion (StoreValueText) at the running offset;
//   write        WriteXmlFile, records appended to one session file;
//   write floor  each field's whole line text computed once beforehand
//                (structure lines included), the values formatted with the
//                project's own FormatValue between those texts into one
//                buffer, one write(2) per record. It writes the same bytes
//                (checked before timing).
//
// Rounds interleave all paths and sizes; each figure is the median over the
// rounds, each ratio the ratio of the medians, wall-clock and CPU time
// (thread CPU time, system time of write(2) included). Page faults: minor
// faults per read, counted over the reads of the last round, for the real
// reader and its floor. The trace flag is off, as with LogFlag=0, and no
// print-data plug-in is bound.
//
// Usage: bench_convert [rounds] (default 11)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "convert/value_codec.h"
#include "generate/xml_writer.h"
#include "schema/schema.h"

namespace fs = std::filesystem;
using namespace morvane;

namespace {

const char* const kKinds[] = {"char",       "int",  "int16",  "int64",  "unsigned", "unsigned16",
                              "unsigned64", "float", "double", "bool",   "State"};
constexpr int kKindCount = 11;
constexpr int kSampleKinds = 10;  // the template leaves out the enumeration
const int kSizes[] = {10, 200, 2000, 20000};
constexpr int kSizeCount = 4;

// A value text of the kind for the i-th value, typical of real records.
std::string ValueText(int kind, int i) {
    char text[64];
    switch (kind) {
        case 0: std::snprintf(text, sizeof text, "0x%X", (i * 7) & 0xFF); break;
        case 1: std::snprintf(text, sizeof text, "%d", -12345 * i); break;
        case 2: std::snprintf(text, sizeof text, "%d", (i * 37) % 30000 - 15000); break;
        case 3: std::snprintf(text, sizeof text, "%lld", 1234567890123LL + i * 1000003LL); break;
        case 4: std::snprintf(text, sizeof text, "%d", i * 100003); break;
        case 5: std::snprintf(text, sizeof text, "%d", (i * 13) % 65536); break;
        case 6: std::snprintf(text, sizeof text, "%llu", 9000000000000000000ULL + i); break;
        case 7: std::snprintf(text, sizeof text, "%f", i * 0.25 + 0.5); break;
        case 8: std::snprintf(text, sizeof text, "%f", i * 1.0001 - 500); break;
        case 9: std::snprintf(text, sizeof text, "%d", i % 2); break;
        default: std::snprintf(text, sizeof text, "%d", i % 3); break;
    }
    return text;
}

struct Case {
    int fields = 0;
    std::unique_ptr<Schema> schema;
    std::vector<uint8_t> record;
    std::string path;     // the data file, as WriteXmlFile writes it
    std::string session;  // the session file the writers append to
    int64_t bytes = 0;
    int iterations = 0;
};

// The schema of `fields` fields and a data file with a value in each.
bool Make(Case& c, const std::string& dir) {
    int top = std::min(c.fields, 100);
    int samples = (c.fields - top) / kSampleKinds;
    std::string xsd = "<Schema name=\"Mixed\" id=\"1\">\n"
                      "<Enum name=\"State\"><Item name=\"Idle\" id=\"0\"/><Item name=\"Busy\" "
                      "id=\"1\"/><Item name=\"Failed\" id=\"2\"/></Enum>\n<Template name=\"Sample\">\n";
    std::string data = "<Schema name=\"Mixed\" id=\"1\">\n";
    for (int k = 0; k < kSampleKinds; ++k)
        xsd += std::string("<Item name=\"s") + kKinds[k] + "\" type=\"" + kKinds[k] + "\"/>\n";
    xsd += "</Template>\n";
    int value = 0;
    for (int i = 0; i < top; ++i) {
        int k = i % kKindCount;
        const char* tag = k == 10 ? "Item_enum" : "Item";
        std::string item = std::string("<") + tag + " name=\"f" + std::to_string(i) + "\" type=\"" +
                           kKinds[k] + "\"";
        xsd += item + "/>\n";
        data += item + ">" + ValueText(k, value++) + "</" + tag + ">\n";
    }
    if (samples > 0) {
        xsd += "<Structure name=\"samples\" type=\"Sample\" nrepetitions=\"" +
               std::to_string(samples) + "\"/>\n";
    }
    xsd += "</Schema>\n";
    for (int r = 0; r < samples; ++r) {
        data += "<Structure name=\"samples\">\n";
        for (int k = 0; k < kSampleKinds; ++k) {
            data += std::string("<Item name=\"s") + kKinds[k] + "\" type=\"" + kKinds[k] + "\">" +
                    ValueText(k, value++) + "</Item>\n";
        }
        data += "</Structure>\n";
    }
    data += "</Schema>\n";

    pugi::xml_document doc;
    doc.load_string(xsd.c_str());
    c.schema = std::make_unique<Schema>();
    if (!LoadSchema(*c.schema, doc)) return false;
    int32_t size = c.schema->Size();
    c.record.assign(static_cast<size_t>(size), 0);
    std::string name = std::to_string(c.fields);
    std::string source = dir + "/source" + name + ".xml";
    if (FILE* f = std::fopen(source.c_str(), "w")) {
        std::fputs(data.c_str(), f);
        std::fclose(f);
    }
    if (!ReadXmlFile(*c.schema, true, source.c_str(), c.record.data(), size)) return false;
    c.path = dir + "/data" + name + ".xml";
    c.session = dir + "/session" + name + ".xml";
    CXmlWriter writer;
    if (!writer.OpenFile(c.path.c_str()) ||
        !WriteXmlFile(*c.schema, writer, 1, c.record.data(), size) || !writer.CloseFile())
        return false;
    c.bytes = static_cast<int64_t>(fs::file_size(c.path));
    c.iterations = std::max(8, 400000 / c.fields);
    return true;
}

// ---------------------------------------------------------------------------
// The read floor.

struct ReadFloor {
    std::unique_ptr<char[]> text;
    size_t capacity = 0;
    pugi::xml_document doc;

    bool Read(const char* path, uint8_t* record, int64_t length) {
        int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) return false;
        auto size = static_cast<size_t>(st.st_size);
        if (size > capacity) {
            text = std::make_unique<char[]>(size);
            capacity = size;
        }
        ssize_t n = ::read(fd, text.get(), size);
        ::close(fd);
        if (n != static_cast<ssize_t>(size)) return false;
        if (!doc.load_buffer_inplace(text.get(), size, pugi::parse_default | pugi::parse_comments))
            return false;
        int64_t offset = 0;
        pugi::xml_node parent = doc.document_element();
        pugi::xml_node node = parent.first_child();
        for (;;) {
            if (!node) {
                if (parent == doc.document_element()) return true;
                node = parent.next_sibling();
                parent = parent.parent();
                continue;
            }
            if (node.type() != pugi::node_element) {
                node = node.next_sibling();
                continue;
            }
            const char* tag = node.name();
            if (std::strcmp(tag, "Structure") == 0) {
                parent = node;
                node = node.first_child();
                continue;
            }
            UnitType kind = kTypeItemEnum;
            int64_t count = 1;
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
                if (std::strcmp(a.name(), "type") == 0 && std::strcmp(tag, "Item") == 0)
                    kind = TypeFromName(a.value());
                else if (std::strcmp(a.name(), "nrepetitions") == 0)
                    count = ParseInt32(a.value());
            }
            int64_t size = TypeSize(kind);
            if (offset + count * size > length) return false;
            pugi::xml_node first = node.first_child();
            if (first.type() == pugi::node_pcdata) StoreValueText(kind, first.value(), record + offset);
            offset += count * size;
            node = node.next_sibling();
        }
    }
};

// ---------------------------------------------------------------------------
// The write floor.

struct WriteFloor {
    struct Field {
        std::string head;  // every line before the value, up to its '>'
        std::string tail;  // "</Item>\n"
        UnitType kind;
        int32_t offset;
    };
    std::vector<Field> fields;
    std::string recordHead, recordEnd;
    std::string buffer;

    // The fixed text of every field, found from the schema's layout.
    void Prepare(const Schema& schema) {
        const CStructure& top = *schema.Top();
        recordHead = "   <Schema name=\"" + top.name + "\" id=\"" + std::to_string(schema.id) +
                     "\" number=\"";
        std::string pending = "\" offset=\"0\" size=\"" + std::to_string(top.size) + "\">\n";
        int32_t offset = 0;
        Add(top, 2, pending, offset);
        recordEnd = pending + "   </Schema>\n";
    }
    void Add(const CStructure& s, int level, std::string& pending, int32_t& offset) {
        std::string in(static_cast<size_t>(level) * 3, ' ');
        for (const auto& member : s.units) {
            const Unit& u = *member;
            if (!u.IsLayoutMember()) continue;
            if (const CStructure* child = u.AsStructure()) {
                for (int32_t k = 0; k < u.nrepetitions; ++k) {
                    pending += in + "<Structure name=\"" + u.name + "\" offset=\"" +
                               std::to_string(u.offset + k * u.size) + "\" size=\"" +
                               std::to_string(u.size) + "\" index=\"" + std::to_string(k) + "\">\n";
                    Add(*child, level + 1, pending, offset);
                    pending += in + "</Structure>\n";
                }
                continue;
            }
            const char* element = u.type == kTypeItemEnum ? "Item_enum" : "Item";
            std::string type = u.type == kTypeItemEnum ? u.ref->name : SchemaTypeName(u.type);
            fields.push_back({pending + in + "<" + element + " name=\"" + u.name + "\" type=\"" +
                                  type + "\">",
                              std::string("</") + element + ">\n", u.type, offset});
            pending.clear();
            offset += TypeSize(u.type);
        }
    }

    // Room for the longest record, so that every piece is a plain copy.
    size_t Capacity() const {
        size_t n = recordHead.size() + recordEnd.size() + 16;
        for (const Field& f : fields) n += f.head.size() + f.tail.size() + kValueTextSize;
        return n;
    }

    void Write(int fd, int32_t number, const uint8_t* record) {
        if (buffer.size() < Capacity()) buffer.resize(Capacity());
        char* p = buffer.data();
        auto copy = [&p](const std::string& text) {
            std::memcpy(p, text.data(), text.size());
            p += text.size();
        };
        copy(recordHead);
        p = std::to_chars(p, p + 16, number).ptr;
        for (const Field& f : fields) {
            copy(f.head);
            p += FormatValue(f.kind, record + f.offset, p);
            copy(f.tail);
        }
        copy(recordEnd);
        auto size = static_cast<size_t>(p - buffer.data());
        if (::write(fd, buffer.data(), size) != static_cast<ssize_t>(size)) std::abort();
    }
};

// ---------------------------------------------------------------------------
// Timing.

double Now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

long MinorFaults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

enum Path { kRead, kReadFloor, kWrite, kWriteFloor, kPathCount };

struct Sample {
    double wall, cpu;  // microseconds per record
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    std::string dir = (fs::temp_directory_path() / "morvane-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return 1;

    Case cases[kSizeCount];
    for (int i = 0; i < kSizeCount; ++i) {
        cases[i].fields = kSizes[i];
        if (!Make(cases[i], dir)) {
            std::fprintf(stderr, "cannot prepare the data of %d fields\n", kSizes[i]);
            return 1;
        }
    }

    // The floors must produce what the real paths produce.
    ReadFloor readFloor;
    WriteFloor writeFloor[kSizeCount];
    for (int i = 0; i < kSizeCount; ++i) {
        Case& c = cases[i];
        std::vector<uint8_t> a(c.record.size(), 0), b(c.record.size(), 0);
        if (!readFloor.Read(c.path.c_str(), a.data(), static_cast<int64_t>(a.size())) ||
            !ReadXmlFile(*c.schema, true, c.path.c_str(), b.data(), static_cast<int32_t>(b.size())) ||
            a != c.record || b != c.record) {
            std::fprintf(stderr, "the readers disagree at %d fields\n", c.fields);
            return 1;
        }
        writeFloor[i].Prepare(*c.schema);
        std::string floorPath = dir + "/floor.xml";
        int fd = ::open(floorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        writeFloor[i].Write(fd, 7, c.record.data());
        ::close(fd);
        std::string real;
        AppendRecordXml(*c.schema, 7, c.record.data(), static_cast<int32_t>(c.record.size()), real);
        std::string floorText;
        if (FILE* f = std::fopen(floorPath.c_str(), "r")) {
            char chunk[65536];
            for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) floorText.append(chunk, n);
            std::fclose(f);
        }
        if (floorText != real) {
            std::fprintf(stderr, "the writers disagree at %d fields\n", c.fields);
            return 1;
        }
    }

    std::vector<Sample> samples[kSizeCount][kPathCount];
    long faults[kSizeCount][2] = {};
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < kSizeCount; ++i) {
            Case& c = cases[i];
            auto length = static_cast<int32_t>(c.record.size());
            std::vector<uint8_t> record(c.record.size(), 0);
            for (int path = 0; path < kPathCount; ++path) {
                CXmlWriter writer;
                int fd = -1;
                if (path == kWrite && (!writer.OpenFile(c.session.c_str()) || !writer.OpenBareElement("Root")))
                    return 1;
                if (path == kWriteFloor)
                    fd = ::open(c.session.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                long faultsBefore = MinorFaults();
                double wall = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_THREAD_CPUTIME_ID);
                for (int n = 0; n < c.iterations; ++n) {
                    switch (path) {
                        case kRead:
                            if (!ReadXmlFile(*c.schema, true, c.path.c_str(), record.data(), length))
                                return 1;
                            break;
                        case kReadFloor:
                            if (!readFloor.Read(c.path.c_str(), record.data(), length)) return 1;
                            break;
                        case kWrite:
                            if (!WriteXmlFile(*c.schema, writer, n + 1, c.record.data(), length))
                                return 1;
                            break;
                        default:
                            writeFloor[i].Write(fd, n + 1, c.record.data());
                            break;
                    }
                    benchmark::DoNotOptimize(record.data());
                }
                double cpuEnd = Now(CLOCK_THREAD_CPUTIME_ID), wallEnd = Now(CLOCK_MONOTONIC);
                if (path <= kReadFloor) faults[i][path] = MinorFaults() - faultsBefore;
                samples[i][path].push_back(
                    {(wallEnd - wall) / c.iterations, (cpuEnd - cpu) / c.iterations});
                if (fd >= 0) ::close(fd);
            }
        }
    }

    std::printf("Medians of %d interleaved rounds, microseconds per record (wall / CPU):\n\n", rounds);
    std::printf("%7s %9s | %-17s %-17s %-13s | %-17s %-17s %-13s | %s\n", "fields", "XML bytes",
                "read", "read floor", "ratio", "write", "write floor", "ratio",
                "faults/read (floor)");
    for (int i = 0; i < kSizeCount; ++i) {
        const Case& c = cases[i];
        double m[kPathCount][2];
        for (int p = 0; p < kPathCount; ++p) {
            std::vector<double> wall, cpu;
            for (const Sample& s : samples[i][p]) {
                wall.push_back(s.wall);
                cpu.push_back(s.cpu);
            }
            m[p][0] = Median(wall);
            m[p][1] = Median(cpu);
        }
        char cell[kPathCount][32];
        for (int p = 0; p < kPathCount; ++p)
            std::snprintf(cell[p], sizeof cell[p], "%.1f / %.1f", m[p][0], m[p][1]);
        std::printf("%7d %9lld | %-17s %-17s %.2fx / %.2fx | %-17s %-17s %.2fx / %.2fx | %.1f (%.1f)\n",
                    c.fields, static_cast<long long>(c.bytes), cell[kRead], cell[kReadFloor],
                    m[kRead][0] / m[kReadFloor][0], m[kRead][1] / m[kReadFloor][1], cell[kWrite],
                    cell[kWriteFloor], m[kWrite][0] / m[kWriteFloor][0],
                    m[kWrite][1] / m[kWriteFloor][1],
                    static_cast<double>(faults[i][kRead]) / c.iterations,
                    static_cast<double>(faults[i][kReadFloor]) / c.iterations);
    }
    std::printf("\nTargets: read <= 1.15x its floor, write <= 1.3x its floor; page faults per read\n"
                "not growing with the record's size.\n");
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
