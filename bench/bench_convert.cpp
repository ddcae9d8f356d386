// Converting records between XML data files and binary, against honest
// floors measured in the same run.
//
// Data: records of 10, 200, 2,000 and 20,000 fields of mixed types (up to
// 100 fields at the top, the rest in repetitions of a 10-field member
// structure); 200 fields are about 11.6 KB of XML, 20,000 about 1.2 MB.
// Each data file is written by WriteXmlFile itself.
//
// Paths, each timed per record:
//   read            ReadXmlFile, store flag 1 (uncached: the file is read and
//                   scanned every time; it is in the writer's form);
//   scanner floor   the least any reader can do for the same stores: the file
//                   read into a reused buffer and walked once, each field's
//                   fixed text compared with memcmp, each value converted
//                   with std::from_chars for its type and stored at its
//                   offset, any other byte refused;
//   read, other form  ReadXmlFile on the same file indented with tabs, which
//                   the scanner leaves to the parser at its second line;
//   parser floor    pugixml parsing that file in place into a reused buffer,
//                   one walk converting each value with the project's own
//                   conversion (StoreValueText): what reading costs without
//                   the scanner;
//   write           WriteXmlFile, records appended to one session file;
//   to_chars floor  each field's whole line text computed once beforehand
//                   (structure lines included), the values formatted with
//                   std::to_chars between those texts into one buffer, one
//                   write(2) per record. It writes the same bytes (checked
//                   before timing).
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
        case 8: std::snprintf(text, sizeof text, "%f", i * 0.125 - 500); break;
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
    std::string other;    // the same indented with tabs: not in the writer's form
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
    c.other = dir + "/other" + name + ".xml";
    std::string text;
    if (FILE* f = std::fopen(c.path.c_str(), "r")) {
        char chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
        std::fclose(f);
    }
    for (size_t at = 0; (at = text.find("\n   ", at)) != std::string::npos; ++at) text.replace(at, 4, "\n\t");
    if (FILE* f = std::fopen(c.other.c_str(), "w")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    c.iterations = std::max(8, 400000 / c.fields);
    return true;
}

// ---------------------------------------------------------------------------
// Plain conversions of the floors, by the value's type: std::to_chars
// ("%d" of the 32-bit pattern for unsigned, "0x%X" for char, "%f" for
// floating values) and std::from_chars (hexadecimal for char).

template <class T>
T Load(const uint8_t* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

char* PlainValue(UnitType kind, const uint8_t* at, char* p) {
    char* end = p + kValueTextSize;
    switch (kind) {
        case kTypeChar: {
            *p++ = '0';
            *p++ = 'x';
            auto r = std::to_chars(p, end, *at, 16);
            for (char* q = p; q < r.ptr; ++q) *q = static_cast<char>(std::toupper(*q));
            return r.ptr;
        }
        case kTypeInt16: return std::to_chars(p, end, Load<int16_t>(at)).ptr;
        case kTypeUnsigned16: return std::to_chars(p, end, Load<uint16_t>(at)).ptr;
        case kTypeInt64: return std::to_chars(p, end, Load<int64_t>(at)).ptr;
        case kTypeUnsigned64: return std::to_chars(p, end, Load<uint64_t>(at)).ptr;
        case kTypeFloat:
            return std::to_chars(p, end, static_cast<double>(Load<float>(at)), std::chars_format::fixed, 6).ptr;
        case kTypeDouble: return std::to_chars(p, end, Load<double>(at), std::chars_format::fixed, 6).ptr;
        case kTypeBool: return std::to_chars(p, end, static_cast<int>(at[0])).ptr;
        default: return std::to_chars(p, end, Load<int32_t>(at)).ptr;  // int, unsigned, item_enum
    }
}

template <class T>
bool Parse(const char* p, const char* end, uint8_t* at, int base = 10) {
    T v{};
    auto r = std::from_chars(p, end, v, base);
    std::memcpy(at, &v, sizeof v);
    return r.ec == std::errc() && r.ptr == end;
}

bool ScanValue(UnitType kind, const char* p, const char* end, uint8_t* at) {
    switch (kind) {
        case kTypeChar: return end - p > 2 && p[0] == '0' && p[1] == 'x' && Parse<uint8_t>(p + 2, end, at, 16);
        case kTypeInt16: return Parse<int16_t>(p, end, at);
        case kTypeUnsigned16: return Parse<uint16_t>(p, end, at);
        case kTypeInt64: return Parse<int64_t>(p, end, at);
        case kTypeUnsigned64: return Parse<uint64_t>(p, end, at);
        case kTypeFloat: {
            float v = 0;
            auto r = std::from_chars(p, end, v);
            std::memcpy(at, &v, sizeof v);
            return r.ec == std::errc() && r.ptr == end;
        }
        case kTypeDouble: {
            double v = 0;
            auto r = std::from_chars(p, end, v);
            std::memcpy(at, &v, sizeof v);
            return r.ec == std::errc() && r.ptr == end;
        }
        case kTypeBool: {
            int32_t v = 0;
            auto r = std::from_chars(p, end, v);
            v = v != 0;
            std::memcpy(at, &v, sizeof v);
            return r.ec == std::errc() && r.ptr == end;
        }
        default: return Parse<int32_t>(p, end, at);
    }
}

// ---------------------------------------------------------------------------
// The read floor.

// A file read whole with one open, fstat and read into a buffer kept for
// the next read, as the real reader reads it.
struct FileText {
    std::unique_ptr<char[]> text;
    size_t capacity = 0;

    bool Read(const char* path, size_t& size) {
        int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) return false;
        size = static_cast<size_t>(st.st_size);
        if (size > capacity) {
            text = std::make_unique<char[]>(size);
            capacity = size;
        }
        ssize_t n = ::read(fd, text.get(), size);
        ::close(fd);
        return n == static_cast<ssize_t>(size);
    }
};

struct ReadFloor {
    FileText file;
    pugi::xml_document doc;

    bool Read(const char* path, uint8_t* record, int64_t length) {
        size_t size = 0;
        if (!file.Read(path, size)) return false;
        char* text = file.text.get();
        if (!doc.load_buffer_inplace(text, size, pugi::parse_default | pugi::parse_comments))
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

    // The fixed text of every field, found from the schema's layout, for
    // the record element at depth (1 in a session file, 0 in a data file).
    void Prepare(const Schema& schema, int depth = 1) {
        const CStructure& top = *schema.Top();
        const std::string in(static_cast<size_t>(depth) * 3, ' ');
        recordHead = in + "<Schema name=\"" + top.name + "\" id=\"" + std::to_string(schema.id) +
                     "\" number=\"";
        std::string pending = "\" offset=\"0\" size=\"" + std::to_string(top.size) + "\">\n";
        int32_t offset = 0;
        Add(top, depth + 1, pending, offset);
        recordEnd = pending + in + "</Schema>\n";
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
            p = PlainValue(f.kind, record + f.offset, p);
            copy(f.tail);
        }
        copy(recordEnd);
        auto size = static_cast<size_t>(p - buffer.data());
        if (::write(fd, buffer.data(), size) != static_cast<ssize_t>(size)) std::abort();
    }
};

// ---------------------------------------------------------------------------
// The scanner floor: the file read into a reused buffer and walked once,
// each field's fixed text (its line up to the value, structure lines
// before it included) compared with memcmp, the value converted with
// std::from_chars for its type and stored at its offset, the end tag
// compared; any other byte refuses the file.

struct ScanFloor {
    WriteFloor texts;  // the fixed texts of a data file's record element
    FileText file;

    void Prepare(const Schema& schema) { texts.Prepare(schema, 0); }

    static bool Take(const char*& p, const char* end, const std::string& t) {
        if (static_cast<size_t>(end - p) < t.size() || std::memcmp(p, t.data(), t.size()) != 0)
            return false;
        p += t.size();
        return true;
    }

    bool Read(const char* path, uint8_t* record, int64_t length) {
        size_t size = 0;
        if (!file.Read(path, size)) return false;
        char* text = file.text.get();
        const char* p = text;
        const char* end = p + size;
        static const std::string kDeclaration = "<?xml version=\"1.0\"?>\n";
        if (!Take(p, end, kDeclaration) || !Take(p, end, texts.recordHead)) return false;
        while (p < end && *p >= '0' && *p <= '9') ++p;
        for (const WriteFloor::Field& f : texts.fields) {
            if (!Take(p, end, f.head)) return false;
            const char* value = p;
            p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
            if (p == nullptr || f.offset + TypeSize(f.kind) > length ||
                !ScanValue(f.kind, value, p, record + f.offset) || !Take(p, end, f.tail))
                return false;
        }
        return Take(p, end, texts.recordEnd) && p == end;
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

enum Path { kRead, kScanFloor, kReadOther, kParseFloor, kWrite, kWriteFloor, kPathCount };

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
    ScanFloor scanFloor[kSizeCount];
    WriteFloor writeFloor[kSizeCount];
    for (int i = 0; i < kSizeCount; ++i) {
        Case& c = cases[i];
        scanFloor[i].Prepare(*c.schema);
        std::vector<uint8_t> a(c.record.size(), 0), b(c.record.size(), 0), d(c.record.size(), 0),
            e(c.record.size(), 0);
        if (!readFloor.Read(c.other.c_str(), a.data(), static_cast<int64_t>(a.size())) ||
            !ReadXmlFile(*c.schema, true, c.path.c_str(), b.data(), static_cast<int32_t>(b.size())) ||
            !scanFloor[i].Read(c.path.c_str(), d.data(), static_cast<int64_t>(d.size())) ||
            !ReadXmlFile(*c.schema, true, c.other.c_str(), e.data(), static_cast<int32_t>(e.size())) ||
            a != c.record || b != c.record || d != c.record || e != c.record) {
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
                        case kScanFloor:
                            if (!scanFloor[i].Read(c.path.c_str(), record.data(), length)) return 1;
                            break;
                        case kReadOther:
                            if (!ReadXmlFile(*c.schema, true, c.other.c_str(), record.data(), length))
                                return 1;
                            break;
                        case kParseFloor:
                            if (!readFloor.Read(c.other.c_str(), record.data(), length)) return 1;
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
                if (path <= kScanFloor) faults[i][path] = MinorFaults() - faultsBefore;
                samples[i][path].push_back(
                    {(wallEnd - wall) / c.iterations, (cpuEnd - cpu) / c.iterations});
                if (fd >= 0) ::close(fd);
            }
        }
    }

    std::printf("Medians of %d interleaved rounds, microseconds per record (wall / CPU):\n\n", rounds);
    std::printf("%7s %9s | %-17s %-17s %-13s | %-17s %-17s %-13s | %-17s %-17s %-13s | %s\n",
                "fields", "XML bytes", "read", "scanner floor", "ratio", "read, other form",
                "parser floor", "ratio", "write", "to_chars floor", "ratio",
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
        auto ratio = [&m](int a, int b, char* out, size_t n) {
            std::snprintf(out, n, "%.2fx / %.2fx", m[a][0] / m[b][0], m[a][1] / m[b][1]);
        };
        char r[3][32];
        ratio(kRead, kScanFloor, r[0], sizeof r[0]);
        ratio(kReadOther, kParseFloor, r[1], sizeof r[1]);
        ratio(kWrite, kWriteFloor, r[2], sizeof r[2]);
        std::printf("%7d %9lld | %-17s %-17s %-13s | %-17s %-17s %-13s | %-17s %-17s %-13s | %.1f (%.1f)\n",
                    c.fields, static_cast<long long>(c.bytes), cell[kRead], cell[kScanFloor], r[0],
                    cell[kReadOther], cell[kParseFloor], r[1], cell[kWrite], cell[kWriteFloor], r[2],
                    static_cast<double>(faults[i][kRead]) / c.iterations,
                    static_cast<double>(faults[i][kScanFloor]) / c.iterations);
    }
    std::printf("\nTargets: read <= 1.3x the scanner floor; a file in another form (indented\n"
                "with tabs) read as fast as before, about the parser floor; write <= 1.3x the\n"
                "to_chars floor; page faults per read not growing with the record's size.\n");
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
