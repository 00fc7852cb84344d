// The mobile-station type list conversion of any file, for the model the first byte
// selects (KV71, KV72 or an unknown model). A converted list has the size of the chosen
// one and carries its checksum in front.
#include <string>

#include "fuzz/fuzz_support.h"
#include "results/ms_type_list.h"

using namespace trelvo;
using namespace trelvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    constexpr int32_t models[] = {MODEL_KV71, MODEL_KV72, 0, 73};
    int32_t model = models[data[0] % 4];
    std::string_view list = as_text(data + 1, size - 1);

    std::FILE* in = open_bytes(list);
    std::FILE* target = std::tmpfile();
    if (target == nullptr) broken("no temporary file");
    MsListResult result = convert_ms_type_list(in, model, target);
    std::fclose(in);
    if (result == MsListResult::Converted) {
        std::string converted(list.size() + 1, '\0');
        std::rewind(target);
        size_t got = std::fread(converted.data(), 1, converted.size(), target);
        if (got != list.size()) broken("the converted list has another size");
        if (got >= MS_LIST_HEADER_SIZE) {
            uint16_t sum = 1;
            for (size_t i = 2; i < got; ++i)
                sum = static_cast<uint16_t>(sum + static_cast<int8_t>(converted[i]));
            uint16_t stored = static_cast<uint16_t>(static_cast<uint8_t>(converted[0]) << 8 |
                                                    static_cast<uint8_t>(converted[1]));
            if (stored != sum) broken("the converted list carries a wrong checksum");
        }
    }
    std::fclose(target);
    return 0;
}
