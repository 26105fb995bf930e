#include "setuplist.h"

#include "lineio.h"
#include "numtext.h"

#include <algorithm>

namespace movra {

ModelSlots readSetupList(const QString &path, std::uint16_t langId)
{
    ModelSlots result;
    const std::optional<QString> first = GetLine(path, 1, langId);
    if (!first)
        return result;
    // N outside the 32-bit range counts as 0, and so does a negative N: the
    // names are lines 2 to N+1.
    const std::int32_t n = roundToInt32(leadingNumber(*first)).value_or(0);
    const std::int32_t names = std::clamp<std::int32_t>(n, 0, ModelSlotCount);
    for (std::int32_t k = 2; k <= names + 1; ++k) {
        const std::optional<QString> name = GetLine(path, k, langId);
        if (!name)
            break; // no later line can be read either
        result[std::size_t(k - 2)] = *name;
    }
    return result;
}

} // namespace movra
