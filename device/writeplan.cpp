#include "device/writeplan.h"

#include <algorithm>

namespace WritePlan {

using SettingsLayout::Field;
using SettingsLayout::FieldId;

void layOver(SettingsBlock::Block &block, const Wanted &wanted)
{
    for (const Field &field : SettingsLayout::Fields) {
        const std::optional<int> value = wanted[std::size_t(field.id)];
        // A flag byte other than 0 or 1 that reads as wanted stays as the unit has it.
        if (field.written && value && SettingsBlock::value(field, block.data()) != *value)
            SettingsBlock::store(field, block.data(), *value);
    }
}

Plan plan(const SettingsBlock::Block &unit, const Request &request)
{
    Plan plan;
    plan.outgoing = request.whole.value_or(unit);
    for (const Field &field : SettingsLayout::Fields) {
        if (!field.written)
            std::copy_n(unit.begin() + field.offset, field.width,
                        plan.outgoing.begin() + field.offset);
    }
    layOver(plan.outgoing, request.wanted);

    const Field &type = SettingsLayout::field(FieldId::DeviceType);
    if (request.whole && !request.anyDeviceType) {
        const int wholeType = SettingsBlock::value(type, request.whole->data());
        const int unitType = SettingsBlock::value(type, unit.data());
        if (wholeType != unitType)
            plan.foreignType = ForeignType{wholeType, unitType};
    }
    plan.differences = SettingsBlock::compare(unit.data(), plan.outgoing.data());
    for (const SettingsBlock::Difference &d : plan.differences) {
        if (!d.field)
            continue;
        const int value = SettingsBlock::value(*d.field, plan.outgoing.data());
        if (!SettingsLayout::inRange(*d.field, value))
            plan.refusals.push_back({d.field, value});
    }
    return plan;
}

} // namespace WritePlan
