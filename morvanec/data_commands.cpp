// to-binary and to-xml: records between the packed binary form and XML data
// or session files, streamed so that memory stays bounded by a few records
// whatever the size of the file.
//
// Session files are machine-written: the header, then one record element
// after another, then "</Root>". to-binary reads the record elements in the
// writer's form with the scanner on its own thread, and cuts any other at
// its end tag and reads it alone, batches of those on several threads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "convert/record_json.h"
#include "convert/session_input.h"
#include "convert/written_record.h"
#include "logging/log.h"
#include "morvanec/commands.h"
#include "morvanec/diagnostics.h"
#include "morvanec/record_input.h"
#include "morvanec/schema_file.h"
#include "morvanec/session_text.h"
#include "morvanec/stream_output.h"
#include "schema/schema.h"

namespace morvane {
namespace {

constexpr size_t kReadPiece = size_t{1} << 20;
// A file with this many errors is not worth reading on.
constexpr int kMaxReportedErrors = 100;
// The longest record element read: the largest record of 100,000 bytes
// takes a few megabytes of XML; anything far beyond is not a record.
constexpr size_t kMaxRecordText = size_t{64} << 20;

// Record elements cut from the file, converted together on one thread:
// the stretch of the file that holds them, and where each one is in it.
// Errors are placed by the cut's line and column, so that a batch needs
// nothing of the file once it is made.
struct Batch {
    struct Cut {
        size_t begin = 0;  // in text
        size_t end = 0;
        int line = 0;  // of text[begin]
        int column = 0;
    };
    struct Placed {
        int line = 0;
        int column = 0;
        std::string text;
    };
    std::string text;
    std::vector<Cut> cuts;
    std::string output;  // the packed records, while no record failed
    std::vector<Placed> errors;
};

// Batches of about this many bytes of XML are converted on several threads
// at once; the output keeps the records' order.
constexpr size_t kBatchBytes = size_t{1} << 20;

// Threads that run jobs in the order given, kept for the whole conversion
// so that each keeps its reader's buffers warm from one batch to the next.
class Workers {
  public:
    explicit Workers(size_t count) {
        for (size_t i = 0; i < count; ++i) threads_.emplace_back([this] { Loop(); });
    }
    ~Workers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    std::future<void> Run(std::function<void()> job) {
        std::packaged_task<void()> task(std::move(job));
        std::future<void> done = task.get_future();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(task));
        }
        wake_.notify_one();
        return done;
    }

  private:
    // Runs jobs until stopped and none is left.
    void Loop() {
        for (;;) {
            std::packaged_task<void()> task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                task = std::move(jobs_.front());
                jobs_.pop_front();
            }
            task();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<void()>> jobs_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

class ToBinary {
  public:
    ToBinary(const Schema& schema, const std::string& path, bool lenient,
             const RecordFormat& format, Diagnostics& diagnostics)
        : schema_(schema),
          path_(path),
          format_(format),
          diagnostics_(diagnostics),
          inFlight_(std::max(1u, std::thread::hardware_concurrency())),
          filling_(std::make_unique<Batch>()),
          scanner_(schema),
          workers_(inFlight_) {
        options_.strict = !lenient;
        // Traced reads go the general way, which makes the trace lines.
        scanning_ = !TraceEnabled();
        scanned_.resize(static_cast<size_t>(schema.Size()));
    }

    // Converts the whole file into out; false after diagnostics.
    bool Run(StreamOutput& out);

  private:
    void Convert(Batch& batch) const;
    // Adds the record element at [start, end) of the window to the batch
    // being filled.
    void Cut(size_t start, size_t end);
    // Starts the batch being filled: it takes the window up to its last
    // record element. Returns the number of bytes taken.
    size_t Start(StreamOutput& out);
    // Waits for the oldest batch and hands on its records and errors.
    void Finish(StreamOutput& out);
    size_t Drain(StreamOutput& out) {
        size_t taken = Start(out);
        while (!running_.empty()) Finish(out);
        return taken;
    }
    void Error(size_t index, const std::string& text);
    // Reads the record element at start of the window with the scanner
    // when it is in the writer's form: its record is written (after the
    // batches before it) and the index after it returned; 0 when it is not.
    // start moves with the window's bytes when their front is handed over.
    size_t Scan(size_t& start, StreamOutput& out);
    // Hands the batch being filled to the workers and drops the window's
    // bytes before index: they lie between record elements. Returns the
    // bytes taken from the window's front.
    size_t DropSkipped(StreamOutput& out, size_t index);
    // The tag name at index, or empty after an error when it is too long.
    std::string RecordTagName(size_t index);
    bool TooMany() const { return diagnostics_.errors() >= kMaxReportedErrors; }

    struct Running {
        std::unique_ptr<Batch> batch;
        std::future<void> done;
    };

    const Schema& schema_;
    const std::string& path_;
    const RecordFormat& format_;
    Diagnostics& diagnostics_;
    ReadOptions options_;
    InputWindow in_;
    size_t inFlight_;
    std::unique_ptr<Batch> filling_;
    std::vector<std::unique_ptr<Batch>> spare_;  // finished, kept for their memory
    std::deque<Running> running_;
    bool writing_ = true;  // until the first error: the output is of no use after it
    bool scanning_ = true;
    SessionRecordScanner scanner_;
    std::vector<uint8_t> scanned_;  // the record the scanner read
    size_t lastRecord_ = 0;         // the length of the last record element scanned
    Workers workers_;               // last: stopped before the batches they convert go
};

void ToBinary::Error(size_t index, const std::string& text) {
    int line;
    int column;
    in_.Place(index, line, column);
    diagnostics_.Error(path_, line, column, text);
}

// The number attribute of the record element text starts with; -1 when it
// has none.
int64_t RecordNumber(std::string_view text) {
    const size_t tagEnd = std::min(text.find('>'), text.size());
    const size_t at = text.substr(0, tagEnd).find(" number=\"");
    if (at == std::string_view::npos) return -1;
    int64_t number = -1;
    const char* p = text.data() + at + 9;
    auto r = std::from_chars(p, text.data() + tagEnd, number);
    return r.ec == std::errc() && r.ptr < text.data() + tagEnd && *r.ptr == '"' && number >= 0
               ? number
               : -1;
}

size_t ToBinary::DropSkipped(StreamOutput& out, size_t index) {
    const size_t taken = Start(out);
    in_.DropFront(index - taken);
    return index;
}

std::string ToBinary::RecordTagName(size_t index) {
    std::string name = TagName(in_, index);
    if (name.size() > kMaxTagName) {
        Error(index, "an element name longer than " + std::to_string(kMaxTagName) +
                         " bytes: not a session or data file");
        name.clear();
    }
    return name;
}

size_t ToBinary::Scan(size_t& start, StreamOutput& out) {
    // A record is scanned once the window holds it whole; records of a file
    // are much alike in length.
    const size_t want = std::max(kInputPiece, 2 * lastRecord_);
    // The bytes before start are done with: they are handed over when a
    // read is due, which leaves the fewest bytes to move to the front.
    if (in_.bytes().size() - start < want && start >= kBatchBytes && filling_->cuts.empty() &&
        !in_.AtEnd()) {
        in_.DropFront(start);
        start = 0;
    }
    in_.Fill(start, want);
    std::fill(scanned_.begin(), scanned_.end(), 0);
    std::string_view bytes = in_.bytes();
    int64_t lines = 0;
    int64_t number = -1;
    const char* end = scanner_.Scan(bytes.data() + start, bytes.data() + bytes.size(),
                                    scanned_.data(), lines, number);
    if (end == nullptr) return 0;
    size_t after = static_cast<size_t>(end - bytes.data());
    lastRecord_ = after - start;
    if (!filling_->cuts.empty() || !running_.empty()) {
        const size_t taken = Drain(out);
        start -= taken;
        after -= taken;
    }
    if (writing_) {
        std::string* text = out.Pending();
        writing_ = text != nullptr && format_(scanned_.data(), number, *text);
        if (!writing_ && text != nullptr) Error(start, "the record cannot be written");
    }
    in_.Skip(start, after, lines);
    return after;
}

void ToBinary::Convert(Batch& batch) const {
    std::vector<uint8_t> record(static_cast<size_t>(schema_.Size()));
    std::vector<ReadError> errors;
    for (const Batch::Cut& cut : batch.cuts) {
        std::fill(record.begin(), record.end(), 0);
        errors.clear();
        std::string_view text(batch.text.data() + cut.begin, cut.end - cut.begin);
        if (ReadXmlText(schema_, true, text, path_.c_str(), record.data(),
                        static_cast<int32_t>(record.size()), options_, &errors)) {
            if (!batch.errors.empty() || format_(record.data(), RecordNumber(text), batch.output))
                continue;
            errors.push_back({-1, "the record cannot be written"});
        }
        if (errors.empty()) errors.push_back({-1, "the record cannot be read"});
        for (const ReadError& e : errors) {
            size_t at = e.offset >= 0 && static_cast<size_t>(e.offset) < text.size()
                            ? static_cast<size_t>(e.offset)
                            : 0;
            Batch::Placed placed{cut.line, cut.column, e.text};
            size_t lastLine = text.rfind('\n', at == 0 ? 0 : at - 1);
            if (at > 0 && lastLine != std::string::npos) {
                placed.line += static_cast<int>(std::count(text.begin(), text.begin() + at, '\n'));
                placed.column = static_cast<int>(at - lastLine);
            } else {
                placed.column += static_cast<int>(at);
            }
            batch.errors.push_back(std::move(placed));
        }
    }
}

void ToBinary::Cut(size_t start, size_t end) {
    Batch::Cut cut;
    in_.Place(start, cut.line, cut.column);
    cut.begin = start;
    cut.end = end;
    filling_->cuts.push_back(cut);
}

size_t ToBinary::Start(StreamOutput& out) {
    if (filling_->cuts.empty()) return 0;
    const size_t taken = filling_->cuts.back().end;
    in_.TakeFront(taken, filling_->text);
    if (running_.size() >= inFlight_) Finish(out);
    Batch* batch = filling_.get();
    running_.push_back({std::move(filling_), workers_.Run([this, batch] { Convert(*batch); })});
    if (spare_.empty()) {
        filling_ = std::make_unique<Batch>();
    } else {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
        filling_->cuts.clear();
        filling_->output.clear();
        filling_->errors.clear();
    }
    return taken;
}

void ToBinary::Finish(StreamOutput& out) {
    running_.front().done.get();
    std::unique_ptr<Batch> batch = std::move(running_.front().batch);
    running_.pop_front();
    for (const Batch::Placed& e : batch->errors) {
        if (TooMany()) break;
        diagnostics_.Error(path_, e.line, e.column, e.text);
    }
    if (!batch->errors.empty()) writing_ = false;
    if (writing_) writing_ = out.Write(batch->output);
    spare_.push_back(std::move(batch));
}

bool ToBinary::Run(StreamOutput& out) {
    if (!in_.Open(path_)) {
        diagnostics_.Error(path_, 0, 0, std::strerror(errno));
        return false;
    }
    // Made once: SkipToTag runs between every two records.
    const std::function<size_t(size_t)> drop = [this, &out](size_t index) {
        return DropSkipped(out, index);
    };
    size_t root = SkipToTag(in_, 0, drop);
    if (in_.At(root) != '<') {
        diagnostics_.Error(path_, 0, 0, in_.failed() ? std::strerror(errno) : "no element");
        return false;
    }
    const std::string rootName = RecordTagName(root);
    if (rootName.empty()) return false;
    if (rootName != "Root") {
        // A data file of one record element: read whole, like the server
        // reads one.
        while (in_.bytes().size() <= kMaxRecordText && in_.More()) {
        }
        if (!in_.AtEnd()) {
            diagnostics_.Error(path_, 0, 0,
                               "a data file larger than " + std::to_string(kMaxRecordText >> 20) +
                                   " MB is not one record");
            return false;
        }
        Cut(0, in_.bytes().size());
        Drain(out);
        return diagnostics_.errors() == 0 && writing_;
    }
    size_t at = in_.Find(">", root, kMaxRecordText);
    if (at == std::string::npos) {
        Error(root, in_.AtEnd() ? "the Root element is not complete"
                                : "the start tag of Root is longer than " +
                                      std::to_string(kMaxRecordText >> 20) + " MB");
        return false;
    }
    if (in_.bytes()[at - 1] == '/') return true;  // <Root/>: no record
    ++at;
    for (;;) {
        size_t start = SkipToTag(in_, at, drop);
        if (in_.At(start) != '<') {
            start -= Drain(out);
            if (in_.At(start) >= 0 || in_.failed()) {
                Error(start, in_.failed() ? std::strerror(errno) : "text between record elements");
            } else if (options_.strict) {
                Error(start,
                      "the session file is not closed (no </Root>); morvanec recover closes it");
            } else {
                diagnostics_.Warning(path_, 0, 0, "the session file is not closed (no </Root>)");
            }
            break;
        }
        if (in_.At(start + 1) == '/') break;  // </Root>
        if (scanning_) {
            if (size_t after = Scan(start, out)) {
                at = after;
                continue;
            }
        }
        const std::string name = RecordTagName(start);
        if (name.empty()) break;
        const std::string endTag = "</" + name + ">";
        size_t end = in_.Find(endTag, start, kMaxRecordText);
        if (end == std::string::npos && !in_.AtEnd()) {
            start -= Drain(out);
            Error(start, "the record element " + name + " is longer than " +
                             std::to_string(kMaxRecordText >> 20) + " MB");
            break;
        }
        if (end == std::string::npos) {
            start -= Drain(out);
            Error(start, "the record element " + name +
                             " is not complete (the file ends inside it); morvanec recover "
                             "closes the file after its last whole record");
            break;
        }
        end += endTag.size();
        Cut(start, end);
        at = end;
        if (at >= kBatchBytes) at -= Start(out);
        if (TooMany()) {
            diagnostics_.Warning(path_, 0, 0, "too many errors; the rest of the file is not read");
            break;
        }
    }
    Drain(out);
    return diagnostics_.errors() == 0 && writing_;
}

}  // namespace

bool ConvertXmlRecords(const Schema& schema, const std::string& path, bool lenient,
                       const RecordFormat& format, StreamOutput& out, Diagnostics& diagnostics) {
    ToBinary convert(schema, path, lenient, format, diagnostics);
    return convert.Run(out);
}

bool IsXmlInput(const std::string& path) {
    // Reading a pipe's first bytes would take them from the conversion.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    InputWindow in;
    if (!in.Open(path)) return false;
    size_t at = 0;
    while (IsBlank(in.At(at))) ++at;
    if (in.At(at) != '<') return false;
    for (std::string_view start : {"<?xml", "<!--", "<Root", "<Schema"}) {
        bool same = true;
        for (size_t i = 0; i < start.size() && same; ++i)
            same = in.At(at + i) == static_cast<unsigned char>(start[i]);
        if (same) return true;
    }
    return false;
}

bool ConvertBinaryRecords(const Schema& schema, const std::string& schemaPath,
                          const std::string& path, const RecordFormat& format, StreamOutput& out,
                          Diagnostics& diagnostics) {
    const int32_t size = schema.Size();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        diagnostics.Error(path, 0, 0, std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return false;
    }
    // A regular file is checked before anything is written; a pipe when it
    // ends.
    auto misfit = [&](int64_t bytes) {
        diagnostics.Error(path, 0, 0,
                          "its size of " + std::to_string(bytes) +
                              " bytes is not a multiple of the record size of " + schema.name +
                              " (" + schemaPath + "), " + std::to_string(size) + " bytes");
        return false;
    };
    if (S_ISREG(st.st_mode) && (size == 0 ? st.st_size != 0 : st.st_size % size != 0)) {
        ::close(fd);
        return misfit(st.st_size);
    }
    // Records are read in batches of about a read piece; each record's text
    // is put together straight in the output's pending bytes, which are
    // written in large pieces.
    const size_t batch = std::max<size_t>(1, kReadPiece / std::max<int32_t>(size, 1));
    std::vector<uint8_t> records(batch * static_cast<size_t>(size));
    int64_t number = 0;
    int64_t total = 0;
    bool ok = true;
    size_t filled = 0;
    while (ok && size > 0) {
        ssize_t n = ::read(fd, records.data() + filled, records.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            diagnostics.Error(path, 0, 0, std::strerror(errno));
            ok = false;
            break;
        }
        filled += static_cast<size_t>(n);
        total += n;
        const size_t whole = filled / static_cast<size_t>(size);
        for (size_t r = 0; r < whole && ok; ++r) {
            std::string* text = out.Pending();
            ok = text != nullptr &&
                 format(records.data() + r * static_cast<size_t>(size), ++number, *text);
            if (!ok && text != nullptr) {
                diagnostics.Error(path, 0, 0,
                                  "record " + std::to_string(number) + " cannot be written");
            }
        }
        const size_t used = whole * static_cast<size_t>(size);
        std::memmove(records.data(), records.data() + used, filled - used);
        filled -= used;
        if (n == 0) break;
    }
    ::close(fd);
    if (ok && filled != 0) return misfit(total);
    return ok;
}

int RunToBinary(const Invocation& call) {
    Diagnostics diagnostics;
    std::unique_ptr<Schema> schema = LoadSchemaFile(call.args[0], diagnostics);
    if (schema == nullptr) return kExitInput;
    StreamOutput out;
    if (!out.Open(call.output, diagnostics)) return kExitInput;
    const RecordFormat packed = [size = schema->Size()](const uint8_t* record, int64_t,
                                                        std::string& bytes) {
        bytes.append(reinterpret_cast<const char*>(record), static_cast<size_t>(size));
        return true;
    };
    if (!ConvertXmlRecords(*schema, call.args[1], call.lenient, packed, out, diagnostics)) {
        out.Abandon();
        return kExitInput;
    }
    return out.Commit() ? kExitOk : kExitInput;
}

int RunToXml(const Invocation& call) {
    Diagnostics diagnostics;
    std::unique_ptr<Schema> schema = LoadSchemaFile(call.args[0], diagnostics);
    if (schema == nullptr) return kExitInput;
    const std::string& path = call.args[1];
    const int32_t size = schema->Size();
    // The bytes of collapsed members are not in the XML data format: each
    // one found holding any is counted, and named once at the end.
    const RecordJsonPlan plan(*schema);
    const auto& collapsed = plan.CollapsedMembers();
    std::vector<int64_t> lost(collapsed.size(), 0);
    // The records' texts are put together one after another in one buffer,
    // grown as needed and never cleared (no refill of its bytes per
    // record), and handed to the output a piece at a time, which writes a
    // piece that large straight to the file: no copy into its pending
    // bytes. A write that fails has its diagnostic and abandons the output;
    // the next record then finds no pending bytes, which ends the
    // conversion, and so does the last piece.
    std::string texts;
    size_t used = 0;
    StreamOutput out;
    const RecordFormat xml = [&](const uint8_t* record, int64_t number, std::string&) {
        for (size_t i = 0; i < collapsed.size(); ++i) {
            const uint8_t* p = record + collapsed[i].offset;
            if (std::any_of(p, p + collapsed[i].bytes, [](uint8_t b) { return b != 0; })) ++lost[i];
        }
        if (!AppendRecordXml(*schema, static_cast<int32_t>(number), record, size, texts, used))
            return false;
        if (used >= kReadPiece) {
            out.Write(std::string_view(texts.data(), used));
            used = 0;
        }
        return true;
    };
    if (!out.Open(call.output, diagnostics)) return kExitInput;
    if (!out.Write(kSessionHeader) ||
        !ConvertBinaryRecords(*schema, call.args[0], path, xml, out, diagnostics) ||
        !out.Write(std::string_view(texts.data(), used)) || !out.Write(kSessionEnd) ||
        !out.Commit()) {
        out.Abandon();
        return kExitInput;
    }
    for (size_t i = 0; i < collapsed.size(); ++i) {
        if (lost[i] == 0) continue;
        diagnostics.Warning(path, 0, 0,
                            "the collapsed member " + collapsed[i].path + " holds bytes other than "
                            "zero in " + std::to_string(lost[i]) + (lost[i] == 1 ? " record" : " records") +
                            "; the XML data format does not carry them (they read back as zero)");
    }
    return kExitOk;
}

}  // namespace morvane
