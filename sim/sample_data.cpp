#include "sim/sample_data.h"

#include <cstdint>
#include <cstdio>

namespace trelvo::sim {

namespace {

std::string model_name(int model) {
    return model == 71 ? "KV71" : "KV72";
}

std::string serial_number(int model) {
    return model == 71 ? "0003120" : "0004711";
}

constexpr std::string_view VERSION = "V4.21";

void put_address(std::string& bytes, size_t offset, uint32_t address) {
    bytes[offset] = static_cast<char>(address >> 24);
    bytes[offset + 1] = static_cast<char>(address >> 16);
    bytes[offset + 2] = static_cast<char>(address >> 8);
    bytes[offset + 3] = static_cast<char>(address);
}

void put_text(std::string& bytes, size_t offset, std::string_view text) {
    bytes.replace(offset, text.size(), text);
}

}  // namespace

std::string identity_for_model(int model) {
    std::string digits = model == 71 ? "71" : "72";
    return "Norvane," + digits + " " + model_name(model) + " GSM Tester," + serial_number(model) +
           "," + std::string(VERSION);
}

std::string unknown_identity() {
    return "Norvane,GSM Tester,0000000," + std::string(VERSION);
}

std::string sample_result_list(int model) {
    const std::string tester = "A03;" + model_name(model) + "," + serial_number(model) +
                               ",J. Berger,Norvane Service," + std::string(VERSION) + "\r\n";
    std::string list;
    list += "A01;09:14:37,12.03.2024,0,NOKIA 6310i,GSM BASIC,E-GSM 900,0,0\r\n";
    list += "A02;262019876543210,350123451234560,4,2,1,1,1,,,1,4,1,0,1\r\n";
    list += tester;
    list += "A20;0.5,1.0\r\n";
    list += "A21;-85.0\r\n";
    list += "A22;20,1\r\n";
    list += "A10;0\r\n";
    list += "A15;0,5,1\r\n";
    list += "A16;0,62,1\r\n";
    list += "A31;0,1,1,1\r\n";
    list += "A32;0,32.4,30.0,35.0\r\n";
    list += "A33;0,1.8,0.0,5.0\r\n";
    list += "A34;0,6.2,0.0,20.0\r\n";
    list += "A35;0,-27,-90,90\r\n";
    list += "A36;0,542.8,540.0,545.0\r\n";
    list += "A37;0,-61,-70,-40\r\n";
    list += "A38;0,0,0,3\r\n";
    list += "A39;0,0.00,0.00,2.44\r\n";
    list += "A40;0,1\r\n";
    list += "A13;0\r\n";

    list += "A01;09:31:02,12.03.2024,1,SIEMENS S45,DUALBAND FULL,GSM 1800,1,0\r\n";
    list += "A02;262074455667788,449283716502934,4,2,1,1,1,,,2,4,1,1,0\r\n";
    list += tester;
    list += "A20;1.5,2.0\r\n";
    list += "A21;-90.0\r\n";
    list += "A22;698,3\r\n";
    list += "A11;0\r\n";
    list += "A15;0,0,3\r\n";
    list += "A16;0,700,3\r\n";
    list += "A32;1,26.1,27.0,32.0\r\n";
    list += "A33;0,2.6,0.0,5.0\r\n";
    list += "A35;0,112,-180,180\r\n";
    list += "A37;0,-66,-70,-40\r\n";
    list += "A41;0,0.12,0.00,2.00\r\n";
    list += "A40;1,0\r\n";
    list += "A12;0\r\n";

    list += "A01;10:02:48,12.03.2024,0,ERICSSON T39,QUICK CHECK,E-GSM 900,2,1\r\n";
    list += "A02;262031122334455,352781009876543,4,2,1,1,1,,,3,4,1,1,1\r\n";
    list += tester;
    list += "A23;3,TCH,62,0.5,1.0\r\n";
    list += "A30;0,0800123456,0800123456\r\n";
    list += "A10;0\r\n";
    list += "A54;4\r\n";
    list += "A55;0,1,-2,2\r\n";
    list += "A43;7,OK\r\n";
    list += "A42;3,0,1\r\n";
    list += "A60;0\r\n";
    list += "A61;0\r\n";
    list += "A12;0\r\n";
    return list;
}

size_t count_results(std::string_view list) {
    size_t count = 0;
    size_t start = 0;
    while (start < list.size()) {
        if (list.substr(start, 4) == "A01;") ++count;
        size_t end = list.find('\n', start);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return count;
}

std::string sample_mobile_list(int model) {
    // Header (10 bytes), two list 1 records (46 bytes each), two list 2 records (22 each).
    constexpr uint32_t LIST1_A = 10, LIST1_B = 56, LIST2_A = 102, LIST2_B = 124, SIZE = 146;
    constexpr uint32_t END = 0xFFFFFFFF;
    const uint32_t base = model == 71 ? 0xC0000 : 0x1C0000;
    std::string list(SIZE, '\0');
    put_address(list, 2, base + LIST1_A);
    put_address(list, 6, base + LIST2_A);

    struct Type {
        uint32_t offset;
        uint32_t next;
        std::string_view name;
    };
    for (const Type& type :
         {Type{LIST1_A, base + LIST1_B, "NOKIA 6310i"}, Type{LIST1_B, END, "SIEMENS S45"}}) {
        put_address(list, type.offset, type.next);
        // Addresses of the type's name, its power table and its two band settings.
        put_address(list, type.offset + 4, base + type.offset + 20);
        put_address(list, type.offset + 8, base + type.offset + 36);
        put_address(list, type.offset + 12, base + type.offset + 40);
        put_address(list, type.offset + 16, base + type.offset + 42);
        put_text(list, type.offset + 20, type.name);
        put_text(list, type.offset + 36, "\x05\x0F\x00\x01\x02\x01");
    }
    struct Group {
        uint32_t offset;
        uint32_t next;
        std::string_view tag;
        uint32_t member;
    };
    for (const Group& group : {Group{LIST2_A, base + LIST2_B, "NOKIA ", LIST1_A},
                               Group{LIST2_B, END, "SIEMEN", LIST1_B}}) {
        put_address(list, group.offset, group.next);
        put_text(list, group.offset + 4, group.tag);
        put_address(list, group.offset + 10, base + group.member);
        put_address(list, group.offset + 14, base + group.member + 20);
        put_address(list, group.offset + 18, base + group.member + 36);
    }
    uint16_t checksum = mobile_list_checksum(list);
    list[0] = static_cast<char>(checksum >> 8);
    list[1] = static_cast<char>(checksum & 0xFF);
    return list;
}

uint16_t mobile_list_checksum(std::string_view list) {
    uint32_t sum = 1;
    for (size_t i = 2; i < list.size(); ++i)
        sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(list[i])));
    return static_cast<uint16_t>(sum & 0xFFFF);
}

std::vector<std::string> sample_autotest_names() {
    return {"GSM BASIC", "DUALBAND FULL", "QUICK CHECK"};
}

std::vector<std::string> numbered_autotest_names(uint32_t count) {
    std::vector<std::string> names;
    for (uint32_t i = 1; i <= count; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "AUTOTEST %03u", i);
        names.emplace_back(name);
    }
    return names;
}

std::string built_in_autotest(std::string_view name) {
    return "AUTOTEST;" + std::string(name) + "\r\nSTEP;A10\r\nSTEP;A15\r\nSTEP;A32\r\nEND\r\n";
}

}  // namespace trelvo::sim
