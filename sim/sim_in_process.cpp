#include "sim/sim_in_process.hpp"

#include <string_view>

#include "sim/ftd2xx_exports.hpp"

namespace ft232h::sim {

namespace {

template <typename EntryPoint>
RawSymbol Raw(EntryPoint entryPoint) {
    return reinterpret_cast<RawSymbol>(entryPoint);
}

class InProcess final : public SharedLibrary {
public:
    RawSymbol FindSymbol(const char* name) const override {
        const std::string_view wanted = name;
        for (const auto& [exported, symbol] : kExports) {
            if (exported == wanted) {
                return symbol;
            }
        }
        return nullptr;
    }

private:
    struct Export {
        std::string_view name;
        RawSymbol symbol;
    };
    inline static const Export kExports[] = {
        {"FT_CreateDeviceInfoList", Raw(&FT_CreateDeviceInfoList)},
        {"FT_GetDeviceInfoList", Raw(&FT_GetDeviceInfoList)},
        {"FT_Open", Raw(&FT_Open)},
        {"FT_Close", Raw(&FT_Close)},
        {"FT_EEPROM_Read", Raw(&FT_EEPROM_Read)},
        {"FT_EEPROM_Program", Raw(&FT_EEPROM_Program)},
        {"FT_EraseEE", Raw(&FT_EraseEE)},
    };
};

}  // namespace

std::unique_ptr<SharedLibrary> InProcessLibrary() {
    return std::make_unique<InProcess>();
}

}  // namespace ft232h::sim
