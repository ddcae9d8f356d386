#include "generate/schema_set.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "generate/generators.h"
#include "generate/output_files.h"
#include "logging/log.h"
#include "schema/name_check.h"

namespace morvane {
namespace {

// What became of one file so far.
struct Slot {
    std::unique_ptr<Schema> schema;
    std::string log;  // its load lines, then its generation lines
    // Read and written under the run's lock only.
    bool loaded = false;
    bool failed = false;
    bool generated = false;
    SchemaSetFailure failure;
};

// The shared state of one LoadSchemaSet() call. Workers take tasks under
// the lock: generating the next schema whose file and every file before it
// loaded (first, which keeps few loaded schemas waiting), otherwise loading
// the next file. Files after a known failure are not taken. Whoever
// finishes a task logs the slots that are complete, in file order, unless
// another thread is doing so.
class SetRun {
  public:
    SetRun(const std::vector<std::string>& paths, const SchemaSetOptions& options)
        : paths_(paths), options_(options), slots_(paths.size()), firstFailure_(paths.size()) {}

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (options_.generate && nextGenerate_ < loadedPrefix_) {
                const size_t i = nextGenerate_++;
                ++busy_;
                lock.unlock();
                Generate(slots_[i]);
                lock.lock();
                slots_[i].generated = true;
            } else if (nextLoad_ < std::min(slots_.size(), firstFailure_)) {
                const size_t i = nextLoad_++;
                ++busy_;
                lock.unlock();
                const bool loaded = Load(i);
                lock.lock();
                slots_[i].loaded = loaded;
                slots_[i].failed = !loaded;
                if (!loaded) firstFailure_ = std::min(firstFailure_, i);
                while (loadedPrefix_ < slots_.size() && slots_[loadedPrefix_].loaded) {
                    if (!AcceptBesideEarlier(loadedPrefix_)) {
                        slots_[loadedPrefix_].loaded = false;
                        slots_[loadedPrefix_].failed = true;
                        firstFailure_ = std::min(firstFailure_, loadedPrefix_);
                        break;
                    }
                    ++loadedPrefix_;
                }
            } else if (busy_ == 0) {
                cv_.notify_all();
                return;
            } else {
                cv_.wait(lock);
                continue;
            }
            LogCompleteSlots(lock);  // still busy: nobody ends before the log is out
            --busy_;
            cv_.notify_all();
        }
    }

    SchemaSet Result() {
        SchemaSet set;
        const size_t end = std::min(slots_.size(), firstFailure_);
        set.schemas.reserve(end);
        for (size_t i = 0; i < end; ++i) set.schemas.push_back(std::move(slots_[i].schema));
        if (firstFailure_ < slots_.size()) {
            set.failed = true;
            set.failure = std::move(slots_[firstFailure_].failure);
        }
        return set;
    }

  private:
    // Fills the slot's schema, or its failure, and its log. The slot's
    // flags are set by the caller, under the lock, since other threads
    // read them.
    bool Load(size_t i) {
        Slot& slot = slots_[i];
        LogCapture capture(slot.log);
        pugi::xml_document doc;
        std::string error;
        std::ptrdiff_t errorOffset = -1;
        slot.failure.index = i;
        if (!LoadXmlDocument(paths_[i].c_str(), doc, error, &errorOffset)) {
            slot.failure.unreadable = true;
            slot.failure.offset = errorOffset;
            slot.failure.text = std::move(error);
            return false;
        }
        auto schema = std::make_unique<Schema>(options_.printData);
        std::vector<SchemaDiagnostic> diagnostics;
        if (!LoadSchema(*schema, doc, &diagnostics) ||
            !AcceptSchemaNames(*schema, options_.names, &diagnostics)) {
            if (diagnostics.empty()) diagnostics.push_back({-1, "the schema cannot be loaded"});
            slot.failure.offset = diagnostics.front().offset;
            slot.failure.text = std::move(diagnostics.front().text);
            return false;
        }
        slot.schema = std::move(schema);
        return true;
    }

    // Checks the loaded schema of slot i against those of the files before
    // it, in file order, under the lock. A name that differs from an
    // earlier one only in letter case would write the same generated files
    // (their names are lower-cased) and the same enumerator of
    // Schema_Enum.h: the schema fails. An id already taken is a warning in
    // the schema's lines: lookups by id find one of the two.
    bool AcceptBesideEarlier(size_t i) {
        Slot& slot = slots_[i];
        const Schema& schema = *slot.schema;
        const std::string upper = ToUpper(schema.name);
        auto name = byUpperName_.emplace(upper, i);
        if (!name.second) {
            const size_t first = name.first->second;
            slot.failure.index = i;
            slot.failure.unreadable = false;
            slot.failure.offset = -1;
            slot.failure.text = "Error! schema [" + schema.name + "] differs from schema [" +
                                slots_[first].schema->name + "] of " + paths_[first] +
                                " only in letter case: both would write " +
                                ToLower(schema.name) + ".h, " + ToLower(schema.name) +
                                ".xml and the enumerator E_SCHEMA_ENUM_" + upper;
            slot.log += slot.failure.text + "\n";
            slot.schema.reset();
            return false;
        }
        auto id = byId_.emplace(schema.id, i);
        if (!id.second) {
            const size_t first = id.first->second;
            slot.log += "Warning! schema [" + schema.name + "] of " + paths_[i] + " has the id " +
                        std::to_string(schema.id) + " of schema [" + slots_[first].schema->name +
                        "] of " + paths_[first] + "\n";
        }
        return true;
    }

    void Generate(Slot& slot) {
        LogCapture capture(slot.log);
        GenerateSchemaFiles(*slot.schema, options_.emptyXmlDirectory.c_str(),
                            options_.includeDirectory.c_str(), options_.names.headerChecks);
    }

    // Logs the lines of the slots that nothing will add to any more, in
    // file order. Called with the lock held; one thread logs at a time and
    // writes without the lock, so the others go on taking tasks, and it
    // also logs the slots they complete meanwhile.
    void LogCompleteSlots(std::unique_lock<std::mutex>& lock) {
        if (logging_) return;
        logging_ = true;
        while (nextLog_ < slots_.size()) {
            Slot& slot = slots_[nextLog_];
            const bool complete =
                slot.failed || (slot.loaded && (!options_.generate || slot.generated));
            if (!complete) break;
            std::string text = std::move(slot.log);
            nextLog_ = slot.failed ? slots_.size() : nextLog_ + 1;
            lock.unlock();
            LogText(true, text);
            lock.lock();
        }
        logging_ = false;
    }

    const std::vector<std::string>& paths_;
    const SchemaSetOptions& options_;
    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable cv_;
    size_t nextLoad_ = 0;
    size_t loadedPrefix_ = 0;  // slots [0, loadedPrefix_) are loaded
    size_t nextGenerate_ = 0;
    size_t nextLog_ = 0;
    size_t firstFailure_;   // paths_.size() while none failed
    int busy_ = 0;          // tasks taken and not finished
    // The slots accepted so far by upper-cased name and by id.
    std::unordered_map<std::string, size_t> byUpperName_;
    std::unordered_map<int32_t, size_t> byId_;
    bool logging_ = false;  // a thread is in LogCompleteSlots()
};

}  // namespace

SchemaSet LoadSchemaSet(const std::vector<std::string>& paths, const SchemaSetOptions& options) {
    SetRun run(paths, options);
    unsigned threads = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
    threads = static_cast<unsigned>(std::min<size_t>(std::max(threads, 1u), paths.size()));
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back([&run] { run.Work(); });
    run.Work();
    for (std::thread& helper : helpers) helper.join();
    return run.Result();
}

}  // namespace morvane
