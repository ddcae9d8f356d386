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

std::string Dump(const CEditModel& model) {
    // Where a declaration stood in its file is left out: a model made by
    // hand has no file.
    std::istringstream in(model.Snapshot());
    std::string out;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("    at ", 0) != 0) out += line + '\n';
    return out;
}

}  // namespace morvane::test
