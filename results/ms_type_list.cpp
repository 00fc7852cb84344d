#include "results/ms_type_list.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

namespace trelvo {

namespace {

constexpr uint32_t KV71_BASE = 0xC0000;
constexpr uint32_t KV72_BASE = 0x1C0000;
constexpr uint32_t NIBBLE_MASK = 0x00F00000;
constexpr int NIBBLE_SHIFT = 20;

constexpr size_t COPY_CHUNK = 1000;
constexpr size_t HEADER_LINK_1 = 2;
constexpr size_t HEADER_LINK_2 = 6;

constexpr std::array<size_t, 4> LIST1_ADDRESSES = {4, 8, 12, 16};
constexpr std::array<size_t, 3> LIST2_ADDRESSES = {10, 14, 18};

uint32_t get_be32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
           uint32_t{bytes[3]};
}

void put_be32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

// Converts the address stored at `bytes` in place; returns the converted value.
uint32_t convert_field(uint8_t* bytes, const ModelLayout& layout) {
    uint32_t address = convert_address(get_be32(bytes), layout);
    put_be32(bytes, address);
    return address;
}

// Reads exactly `size` bytes at `offset`; false when the file ends first.
bool read_at(std::FILE* file, uint64_t offset, uint8_t* bytes, size_t size) {
    if (offset > static_cast<uint64_t>(LONG_MAX)) return false;
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(bytes, 1, size, file) == size;
}

// Adds bytes as signed 8-bit numbers, modulo 65536.
void add_to_checksum(uint16_t& checksum, const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i)
        checksum = static_cast<uint16_t>(checksum + static_cast<int8_t>(bytes[i]));
}

struct Writer {
    std::FILE* target;
    uint16_t checksum = 1;
    uint64_t position = 0;
    bool ok = true;

    void put(const uint8_t* bytes, size_t size, bool counted = true) {
        if (counted) add_to_checksum(checksum, bytes, size);
        if (std::fwrite(bytes, 1, size, target) != size) ok = false;
        position += size;
    }

    // Copies unchanged from the source's current position up to `end` (or its end).
    void copy_until(std::FILE* source, uint64_t end) {
        std::array<uint8_t, COPY_CHUNK> chunk;
        while (position < end) {
            size_t wanted = static_cast<size_t>(std::min<uint64_t>(end - position, COPY_CHUNK));
            size_t got = std::fread(chunk.data(), 1, wanted, source);
            if (got == 0) return;
            put(chunk.data(), got);
        }
    }
};

template <size_t Size, size_t Count>
MsListResult convert_record(std::FILE* list, Writer& out, const ModelLayout& layout,
                            const std::array<size_t, Count>& addresses) {
    std::array<uint8_t, Size> record{};
    if (std::fread(record.data(), 1, Size, list) != Size) return MsListResult::Truncated;
    convert_field(record.data(), layout);
    for (size_t at : addresses)
        convert_field(record.data() + at, layout);
    out.put(record.data(), Size);
    return MsListResult::Converted;
}

// The next record offset of a list, or "beyond any file" when the list has none left.
uint64_t next_record(OffsetTable& table, int list) {
    uint32_t offset = table.next(list);
    if (offset == OffsetTable::LIST_EMPTY || offset == OffsetTable::LIST_DONE) return UINT64_MAX;
    return offset;
}

MsListResult follow_chain(std::FILE* list, uint32_t link, int list_number, size_t record_size,
                          const ModelLayout& layout, OffsetTable& table) {
    std::array<uint8_t, MS_LIST1_RECORD_SIZE> record{};
    while (link != MS_NO_LINK) {
        uint32_t offset = link - layout.base;
        if (table.contains(offset, list_number)) return MsListResult::ChainLoops;
        if (!table.add(offset, list_number)) return MsListResult::TooManyRecords;
        if (!read_at(list, offset, record.data(), record_size)) return MsListResult::Truncated;
        link = convert_address(get_be32(record.data()), layout);
    }
    return MsListResult::Converted;
}

}  // namespace

std::optional<ModelLayout> model_layout(int32_t model_code) {
    if (model_code == MODEL_KV71) return ModelLayout{KV71_BASE, 0};
    if (model_code == MODEL_KV72) return ModelLayout{KV72_BASE, 1};
    return std::nullopt;
}

uint32_t convert_address(uint32_t address, const ModelLayout& layout) {
    if (address == MS_NO_LINK) return address;
    return (address & ~NIBBLE_MASK) | (layout.nibble << NIBBLE_SHIFT & NIBBLE_MASK);
}

bool OffsetTable::add(uint32_t offset, int list) {
    if (count_ == entries_.size()) return false;
    entries_[count_++] = {offset, list, false};
    return true;
}

bool OffsetTable::contains(uint32_t offset, int list) const {
    for (size_t i = 0; i < count_; ++i) {
        if (entries_[i].offset == offset && entries_[i].list == list) return true;
    }
    return false;
}

uint32_t OffsetTable::next(int list) {
    Entry* smallest = nullptr;
    bool any = false;
    for (size_t i = 0; i < count_; ++i) {
        Entry& entry = entries_[i];
        if (entry.list != list) continue;
        any = true;
        if (!entry.handed_out && (smallest == nullptr || entry.offset < smallest->offset))
            smallest = &entry;
    }
    if (!any) return LIST_EMPTY;
    if (smallest == nullptr) return LIST_DONE;
    smallest->handed_out = true;
    return smallest->offset;
}

MsListResult collect_ms_type_chains(std::FILE* list, int32_t model_code, OffsetTable& table) {
    std::array<uint8_t, MS_LIST_HEADER_SIZE> header{};
    if (!read_at(list, 0, header.data(), header.size())) return MsListResult::Truncated;
    MsListResult result = MsListResult::Converted;
    if (std::optional<ModelLayout> layout = model_layout(model_code)) {
        result = follow_chain(list, convert_address(get_be32(&header[HEADER_LINK_1]), *layout), 1,
                              MS_LIST1_RECORD_SIZE, *layout, table);
        if (result == MsListResult::Converted) {
            result = follow_chain(list, convert_address(get_be32(&header[HEADER_LINK_2]), *layout),
                                  2, MS_LIST2_RECORD_SIZE, *layout, table);
        }
    }
    std::fseek(list, 0, SEEK_SET);
    return result;
}

MsListResult write_converted_ms_type_list(std::FILE* list, int32_t model_code, OffsetTable& table,
                                          std::FILE* target) {
    std::array<uint8_t, MS_LIST_HEADER_SIZE> header{};
    if (!read_at(list, 0, header.data(), header.size())) return MsListResult::Truncated;
    std::optional<ModelLayout> layout = model_layout(model_code);
    uint64_t next1 = UINT64_MAX;  // other models: nothing converted, chains empty
    uint64_t next2 = UINT64_MAX;
    if (layout) {
        convert_field(&header[HEADER_LINK_1], *layout);
        convert_field(&header[HEADER_LINK_2], *layout);
        next1 = next_record(table, 1);
        next2 = next_record(table, 2);
    }

    Writer out{target};
    out.put(header.data(), 2, false);
    out.put(header.data() + 2, header.size() - 2);
    while (out.ok) {
        uint64_t record_at = std::min(next1, next2);
        if (record_at < out.position) {
            // A record before the current position or overlapping the last one: the rest
            // goes unconverted.
            out.copy_until(list, UINT64_MAX);
            break;
        }
        out.copy_until(list, record_at);
        MsListResult result = MsListResult::Converted;
        if (out.position == next1) {
            next1 = next_record(table, 1);
            result = convert_record<MS_LIST1_RECORD_SIZE>(list, out, *layout, LIST1_ADDRESSES);
        } else if (out.position == next2) {
            next2 = next_record(table, 2);
            result = convert_record<MS_LIST2_RECORD_SIZE>(list, out, *layout, LIST2_ADDRESSES);
        } else {
            break;
        }
        if (result != MsListResult::Converted) return result;
    }

    std::array<uint8_t, 2> checksum = {static_cast<uint8_t>(out.checksum >> 8),
                                       static_cast<uint8_t>(out.checksum)};
    if (!out.ok || std::fflush(target) != 0 || std::fseek(target, 0, SEEK_SET) != 0 ||
        std::fwrite(checksum.data(), 1, checksum.size(), target) != checksum.size() ||
        std::fflush(target) != 0 || std::fseek(target, 0, SEEK_SET) != 0) {
        return MsListResult::WriteFailed;
    }
    return MsListResult::Converted;
}

MsListResult convert_ms_type_list(std::FILE* list, int32_t model_code, std::FILE* target) {
    OffsetTable table;
    MsListResult result = collect_ms_type_chains(list, model_code, table);
    if (result != MsListResult::Converted) return result;
    return write_converted_ms_type_list(list, model_code, table, target);
}

std::FILE* open_temporary_file() {
    const char* directory = std::getenv("TMPDIR");
    std::string path = directory != nullptr && *directory != '\0' ? directory : "/tmp";
    if (path.back() != '/') path += '/';
    path += "tmpXXXXXX";
    int descriptor = ::mkstemp(path.data());
    if (descriptor < 0) return nullptr;
    ::unlink(path.c_str());
    std::FILE* file = ::fdopen(descriptor, "w+b");
    if (file == nullptr) ::close(descriptor);
    return file;
}

}  // namespace trelvo
