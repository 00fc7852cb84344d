// What a factory-fresh simulated tester holds: its identity, a result list of three test
// runs, a mobile list in the model's memory layout and a small autotest directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trelvo::sim {

// "Norvane,72 KV72 GSM Tester,0004711,V4.21" for model 72; the second field begins with the
// model digits. Model 71 likewise.
std::string identity_for_model(int model);
// An identity whose model field names no known model.
std::string unknown_identity();

inline constexpr std::string_view RESULT_LIST_NAME = "RESULTS.TXT";
inline constexpr std::string_view BUILT_IN_MOBILE_LIST_NAME = "MSTYPES.AUT";

// Three result blocks (A01 records with the records of their run), CR LF line ends.
std::string sample_result_list(int model);
// The number of results in a result list: its A01 records at line starts.
size_t count_results(std::string_view list);

// A mobile list with two records in each of its two chains, addressed for the model's
// memory, with a valid checksum.
std::string sample_mobile_list(int model);
// The checksum of a mobile list: 1 plus the bytes from offset 2 on, each taken as a signed
// 8-bit number, modulo 65536.
uint16_t mobile_list_checksum(std::string_view list);

std::vector<std::string> sample_autotest_names();
// "AUTOTEST 001" to "AUTOTEST `count`": a directory of any size.
std::vector<std::string> numbered_autotest_names(uint32_t count);
// The stored contents of an autotest that was not received but built in.
std::string built_in_autotest(std::string_view name);

}  // namespace trelvo::sim
