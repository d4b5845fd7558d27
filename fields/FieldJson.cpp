#include "FieldJson.h"

#include "FieldValues.h"

#include <charconv>

namespace fields {

namespace {

nlohmann::ordered_json jsonValue(const T_R_FieldDef &field, const std::string &shown)
{
    switch (fieldKind(field)) {
    case FieldKind::Number: {
        int number = 0;
        std::from_chars(shown.data(), shown.data() + shown.size(), number);
        return number;
    }
    case FieldKind::Frequency: {
        double megahertz = 0;
        std::from_chars(shown.data(), shown.data() + shown.size(), megahertz);
        return megahertz;
    }
    case FieldKind::PsName:
    case FieldKind::RadioText:
    case FieldKind::PiCode: break;
    }
    return shown;
}

} // namespace

nlohmann::ordered_json fieldsToJson(const FieldList &shown)
{
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (const auto &[field, value] : shown)
        fields[field->Name] = jsonValue(*field, value);
    return fields;
}

} // namespace fields
