#include "EffectShader.h"

void EffectShader::applyParameters(std::string_view text) {
    // Parsed whole before any slot is written: a refused file changes nothing.
    for (const ParameterTable& table : readParameterFile(text)) {
        if (!imguiExports_.contains(table.name)) continue;
        const auto slot = values_.find(table.name);
        if (slot == values_.end()) continue;
        slot->second = table.values;
    }
}
