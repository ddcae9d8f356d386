// The editor's schema-file loader: the input is a schema file loaded into
// a fresh CEditModel. The loader must leave the model untouched unless it
// reports kLoaded. A loaded model whose comments can be written is saved
// with the schema file writer and loaded again into another model, which
// must then hold the same schema and the same enumerations and templates,
// less the empty ones a save leaves out.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "builder/edit_model.h"
#include "builder/schema_file_loader.h"
#include "builder/schema_file_writer.h"
#include "fuzz/fuzz_support.h"

namespace {

using morvane::CEditElement;
using morvane::CEditModel;
using morvane::LoadOutcome;

bool SameElements(const std::vector<CEditElement>& a, const std::vector<CEditElement>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name.view() != b[i].name.view() || a[i].kind.view() != b[i].kind.view() ||
            a[i].type.view() != b[i].type.view() ||
            a[i].nrepetitions.view() != b[i].nrepetitions.view() ||
            a[i].collapsed != b[i].collapsed || a[i].comment != b[i].comment)
            return false;
    }
    return true;
}

// The enumerations with items and the templates with elements: the ones a
// save writes.
std::vector<const morvane::CEditEnum*> WrittenEnums(const CEditModel& model) {
    std::vector<const morvane::CEditEnum*> out;
    for (const auto& e : model.Enumerations())
        if (!e->items.empty()) out.push_back(e.get());
    return out;
}

std::vector<const morvane::CEditTemplate*> WrittenTemplates(const CEditModel& model) {
    std::vector<const morvane::CEditTemplate*> out;
    for (const auto& t : model.Templates())
        if (!t->elements.empty()) out.push_back(t.get());
    return out;
}

// True when reloaded holds what saving original wrote.
bool SameModels(const CEditModel& original, const CEditModel& reloaded) {
    const morvane::CEditSchema* sa = original.CurrentSchema();
    const morvane::CEditSchema* sb = reloaded.CurrentSchema();
    if (sa == nullptr || sb == nullptr) return false;
    if (sa->name.view() != sb->name.view() || sa->id.view() != sb->id.view() ||
        !SameElements(sa->elements, sb->elements))
        return false;
    const auto enumsA = WrittenEnums(original);
    const auto templatesA = WrittenTemplates(original);
    if (enumsA.size() != reloaded.Enumerations().size() ||
        templatesA.size() != reloaded.Templates().size())
        return false;
    for (size_t i = 0; i < enumsA.size(); ++i) {
        const morvane::CEditEnum& ea = *enumsA[i];
        const morvane::CEditEnum& eb = *reloaded.Enumerations()[i];
        if (ea.name.view() != eb.name.view() || ea.items.size() != eb.items.size()) return false;
        for (size_t k = 0; k < ea.items.size(); ++k) {
            if (ea.items[k].name.view() != eb.items[k].name.view() ||
                ea.items[k].id.view() != eb.items[k].id.view())
                return false;
        }
    }
    for (size_t i = 0; i < templatesA.size(); ++i) {
        const morvane::CEditTemplate& ta = *templatesA[i];
        const morvane::CEditTemplate& tb = *reloaded.Templates()[i];
        if (ta.name.view() != tb.name.view() || ta.comment != tb.comment ||
            !SameElements(ta.elements, tb.elements))
            return false;
    }
    return true;
}

bool Untouched(const CEditModel& model) {
    return model.CurrentSchema() == nullptr && model.Enumerations().empty() &&
           model.Templates().empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const morvane::fuzz::ScratchDir& scratch = morvane::fuzz::Scratch();

    const std::string path = scratch.Write("input.xsd", data, size);
    CEditModel model;
    morvane::LoadResult result = morvane::LoadSchemaFile(model, path);
    if (result.outcome != LoadOutcome::kLoaded) {
        if (!Untouched(model)) std::abort();
        return 0;
    }
    const morvane::CEditSchema* schema = model.CurrentSchema();
    if (schema == nullptr || !result.message.empty()) std::abort();
    if (!morvane::CheckComments(model).empty()) return 0;

    const std::string saved = scratch / "saved.xsd";
    std::string error;
    if (!morvane::WriteSchemaFile(model, schema->name.view(), schema->id.view(), saved, error))
        std::abort();
    CEditModel again;
    morvane::LoadResult reloaded = morvane::LoadSchemaFile(again, saved);
    if (reloaded.outcome != LoadOutcome::kLoaded || !SameModels(model, again)) std::abort();
    return 0;
}
