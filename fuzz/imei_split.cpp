// The split of any result list into block files named after IMEI, time and date, driven
// the way its steps drive it. Every block file lands in the receiving directory under a
// name of digits, "_", placeholder letters and ".res", and holds one block from its A01
// line on.
#include <fstream>
#include <iterator>
#include <string>

#include "base/transfer_record.h"
#include "fuzz/fuzz_support.h"
#include "results/imei_split.h"

using namespace trelvo;
using namespace trelvo::fuzz;
namespace fs = std::filesystem;

namespace {

constexpr int ROUND_LIMIT = 100000;

void check_name(const std::string& name) {
    if (name.size() > MAX_BLOCK_NAME) broken("block name too long");
    if (!name.ends_with(".res")) broken("block name without .res");
    for (char c : std::string_view(name).substr(0, name.size() - 4)) {
        bool digit = c >= '0' && c <= '9';
        if (!digit && c != '_' && c != 'x' &&
            std::string_view("Unknown").find(c) == std::string_view::npos)
            broken("block name with a character it may not hold");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view list = as_text(data, size);
    check_name(make_block_name(list));

    const fs::path& dir = empty_scratch_dir();
    fs::create_directory(dir / "in");
    fs::create_directory(dir / "cwd");
    fs::current_path(dir / "cwd");

    SettingsState state;
    QuietWindow window;
    TransferRecord record;
    record.directory = (dir / "in").string() + "/";
    record.file = open_bytes(list);
    uint32_t options = OPT_IMEI | OPT_OUTPUT_FILE;

    begin_split(record, options, window);
    bool read = true;
    for (int round = 0;; ++round) {
        if (round == ROUND_LIMIT) broken("the split does not end");
        if (read) read_split(record);
        write_split(record, state, window);
        SplitMove move = next_split(record, options, window);
        if (move == SplitMove::NextRow) break;
        read = move == SplitMove::ReadMore;
    }
    close_file(record.file);
    if (record.second_file != nullptr) broken("a block file left open");

    if (!fs::is_empty(dir / "cwd")) broken("a block file outside the receiving directory");
    size_t total = 0;
    for (const auto& entry : fs::directory_iterator(dir / "in")) {
        check_name(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        std::string block{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!block.starts_with("A01")) broken("a block file that does not start with A01");
        if (list.find(block) == std::string_view::npos)
            broken("a block file not taken from the list");
        total += block.size();
    }
    if (total > list.size()) broken("block files hold more than the list");
    return 0;
}
