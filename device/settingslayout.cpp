#include "device/settingslayout.h"

namespace SettingsLayout {

namespace {

// Each field is its own index, the fields lie in block order without overlapping, their ranges
// fit their widths, and none lies past offset 43.
constexpr bool wellFormed()
{
    int end = 0;
    for (int i = 0; i < Count; ++i) {
        const Field &f = Fields[std::size_t(i)];
        if (int(f.id) != i || f.offset < end || (f.width != 1 && f.width != 2) ||
            (f.kind == Kind::Flag && (f.width != 1 || f.min != 0 || f.max != 1)) || f.min < 0 ||
            f.max > widthMax(f) || f.min > f.max)
            return false;
        end = f.offset + f.width;
    }
    return end <= 44;
}
static_assert(wellFormed());

} // namespace

const Field *find(const QString &key)
{
    for (const Field &field : Fields) {
        if (key == QLatin1String(field.key))
            return &field;
    }
    return nullptr;
}

const Field *at(int offset)
{
    for (const Field &field : Fields) {
        if (offset >= field.offset && offset < field.offset + field.width)
            return &field;
    }
    return nullptr;
}

} // namespace SettingsLayout
