// A field as the board worker knows it: what the board holds beside what was
// asked for.
#ifndef QUORVELD_FIELD_SNAPSHOT_H
#define QUORVELD_FIELD_SNAPSHOT_H

#include "FieldImage.h"
#include "RdsUsbFields.h"

#include <array>
#include <optional>

namespace qd {

struct FieldSnapshot {
    std::optional<fields::Image> held;  // what the board holds; nothing while unknown
    std::optional<fields::Image> asked; // what was last asked for and is kept
    bool pending() const { return asked && asked != held; }
    // What the field is on its way to: what was asked for, else what the board holds.
    const std::optional<fields::Image> &effective() const { return asked ? asked : held; }
};
using Snapshot = std::array<FieldSnapshot, RDS_USB_FIELD_COUNT>;

} // namespace qd

#endif
