#include "FieldRows.h"

#include "RdsUsbFields.h"

int fields::fieldIndex(std::string_view name)
{
    const T_R_FieldDef *field = RdsUsbFindField(name);
    return field ? static_cast<int>(field - RdsUsbFields) : -1;
}
