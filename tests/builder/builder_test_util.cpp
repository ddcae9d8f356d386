#include "builder_test_util.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace morvane::test {

CEditElement Element(const std::string& kind, const std::string& name, const std::string& type,
                     const std::string& nrepetitions, bool collapsed, const std::string& comment) {
    CEditElement e;
    std::string message;
    EXPECT_TRUE(AssignElement(e, kind, name, type, nrepetitions, collapsed, comment, message))
        << message;
    return e;
}

CEditEnum& AddEnum(CEditModel& model, const std::string& name,
                   std::initializer_list<std::pair<const char*, const char*>> items) {
    auto e = std::make_unique<CEditEnum>();
    EXPECT_TRUE(e->name.Assign(name));
    for (const auto& [itemName, id] : items) {
        CEditEnumItem item;
        EXPECT_TRUE(item.name.Assign(itemName));
        EXPECT_TRUE(item.id.Assign(id));
        e->items.push_back(item);
    }
    return model.AppendEnum(std::move(e));
}

CEditTemplate& AddTemplate(CEditModel& model, const std::string& name, const std::string& comment,
                           std::initializer_list<CEditElement> elements) {
    auto t = std::make_unique<CEditTemplate>();
    EXPECT_TRUE(t->name.Assign(name));
    t->comment = comment;
    t->elements = elements;
    return model.AppendTemplate(std::move(t));
}

namespace {

void DumpElements(std::ostream& out, const std::vector<CEditElement>& elements) {
    for (const CEditElement& e : elements)
        out << "  " << e.kind.view() << '|' << e.name.view() << '|' << e.type.view() << '|'
            << e.nrepetitions.view() << '|' << e.collapsed << "|[" << e.comment << "]\n";
}

}  // namespace

std::string Dump(const CEditModel& model) {
    std::ostringstream out;
    for (const auto& e : model.Enumerations()) {
        out << "enum " << e->name.view() << '\n';
        for (const CEditEnumItem& i : e->items) out << "  " << i.name.view() << '=' << i.id.view() << '\n';
    }
    for (const auto& t : model.Templates()) {
        out << "template " << t->name.view() << " [" << t->comment << "]\n";
        DumpElements(out, t->elements);
    }
    if (const CEditSchema* s = model.CurrentSchema()) {
        out << "schema " << s->name.view() << ' ' << s->id.view() << '\n';
        DumpElements(out, s->elements);
    } else {
        out << "no schema\n";
    }
    return out.str();
}

}  // namespace morvane::test
