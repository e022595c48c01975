#include "checks/checks.h"

namespace marvik {

std::uint8_t integrityFlagsByte(const IntegrityIndicators& r) {
    const bool bits[8] = {r.debuggerOnClient, r.hardwareBreakpoints, r.codeModified, r.apiHooked,
                          r.reserved4,        r.reserved5,           r.reserved6,    r.reserved7};
    std::uint8_t flags = 0;
    for (int i = 0; i < 8; ++i)
        if (bits[i]) flags = static_cast<std::uint8_t>(flags | (1u << i));
    return flags;
}

bool integrityAlert(const IntegrityIndicators& r) {
    return r.debuggerOnClient || r.hardwareBreakpoints || r.codeModified || r.apiHooked;
}

bool selfIntegrityChanged(std::uint32_t initial, std::uint32_t current) {
    // A file that could not be read at session start or now tells nothing
    // about a change; only two real values are compared.
    return initial != 0 && current != 0 && initial != current;
}

}  // namespace marvik
