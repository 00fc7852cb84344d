#include "tests/results/reference_lists.h"

#include <cstdio>
#include <string>

namespace trelvo::testing {

namespace {

const char* const record_definitions[] = {
    "A01;Test name;4,5,6:PASS:FAIL,7,8,9,10:Cable:Antenna:Coupler,11:Standard:User",
    "A02;Mobile information;12,13,14,15::Phase 1:Phase 2,16:No:Yes,17:No:Yes,18",
    "A03;Tester information;19,20,21,22",
    "A10;Call from mobile;6:PASS:FAIL",
    "A11;Call from base station;6:PASS:FAIL",
    "A12;Release from mobile;6:PASS:FAIL",
    "A13;Release from base station;6:PASS:FAIL",
    "A15;MS power level;6:PASS:FAIL,23",
    "A16;Traffic channel;6:PASS:FAIL,24",
    "A20;Pre attenuation;31!,32!",
    "A21;RF output level (dBm);26!",
    "A22;Broadcast channel;27",
    "A23;Pre att by MSType;28,29,30,31!,32!",
    "A30;Dialed number;6:PASS:FAIL,33,34",
    "A31;Power versus time comparison;6:PASS:FAIL",
    "A32;Tx power (dBm);6:PASS:FAIL,35!,36!,37!",
    "A33;RMS phase (deg);6:PASS:FAIL,35!,36!,37!",
    "A34;Peak phase (deg);6:PASS:FAIL,35!,36!,37!",
    "A35;Frequency error (Hz);6:PASS:FAIL,35!,36!,37!",
    "A36;Burst length (us);6:PASS:FAIL,35!,36!,37!",
    "A37;RX level;6:PASS:FAIL,35!,36!,37!",
    "A38;RX quality;6:PASS:FAIL,35!,36!,37!",
    "A39;BER (%);6:PASS:FAIL,35!,36!,37!",
    "A40;AF loop;6:PASS:FAIL",
    "A41;FER (%);6:PASS:FAIL,35!,36!,37!",
    "A42;Question box;38,6:PASS:FAIL,39",
    "A43;User Input;40,41",
    "A50;User break;6:PASS:FAIL",
    "A51;Location Update;6:PASS:FAIL",
    "A52;Data Call from mobile;6:PASS:FAIL",
    "A53;Data Call from base station;6:PASS:FAIL",
    "A54;Timing Advance;42",
    "A55;Timing Advance Error;6:PASS:FAIL,35!,36!,37!",
    "A56;VGCS Call from BS;6:PASS:FAIL,43,44",
    "A57;VGCS Release from BS;6:PASS:FAIL",
    "A58;VGCS Call from MS;6:PASS:FAIL,43,44",
    "A59;VGCS Release from BS;6:PASS:FAIL",
    "A60;GPRS Attach;6:PASS:FAIL",
    "A61;GPRS Detach;6:PASS:FAIL",
};

const char* const field_names[] = {
    "4 Time",
    "5 Date",
    "6 Result",
    "7 MSTYPE name",
    "8 Autotest name",
    "9 Tested network",
    "10 Connection",
    "11 Test",
    "12 IMSI",
    "13 IMEI",
    "14 MS class",
    "15 MS Revision",
    "16 Extended frequency",
    "17 Short message capability",
    "18 A5 ciphering support",
    "19 Tester model",
    "20 Serial number",
    "21 User name",
    "22 User company",
    "23 Level",
    "24 TCH",
    "26 RF level",
    "27 Broadcast no",
    "28 Channel ID",
    "29 Channel type",
    "30 Channel no",
    "31 RX pre att (dB)",
    "32 TX pre att (dB)",
    "33 Dialed digits",
    "34 Reference digits",
    "35 Measured",
    "36 Low limit",
    "37 High limit",
    "38 Question ID",
    "39 Printout",
    "40 User input ID",
    "41 User input",
    "42 Timing Advance",
    "43 VGCS Group ID",
    "44 VGCS Priority",
};

const char* const start_section[] = {
    "{A03-1} Mobile Tester{CL37}Overall Test Result : {A01-3T01}",
    "{CL02}AUTOTEST : {A01-5}{CL37}System : {A01-6T02}",
    "{CL02}SN (V{A03-5}) : {A03-2}{CL37}Test ID : {A01-1} {A01-2}",
    "{CL02}Mobile connection : {A01-7T03}{CL37}MS TYPE : {A01-4}",
    "{LB01}{CL02}IMSI : {A02-1}{CL37}IMEI : {A02-2}",
    "{CL02}Revision level : {A02-4T07}{CL37}EFR : {A02-14T08}",
    "{CL02}Extended freq. : {A02-5T08}{CL37}SMS : {A02-6T08}",
    "{CL02}Dualband : {A02-10T09}{CL37}A5 : {A02-7}",
    "{CL02}MS Pwr Class : {A02-11}{A02-11T17|A02-12}{A02-12}{A02-11T17|A02-13}{A02-13} "
    "({A02-11T04}{A02-11T17|A02-12}{A02-12T05}{A02-11T17|A02-13}{A02-13T06}dBm){LA01}",
};

const MiddleLine middle_section[] = {
    {10, "{LB01}Call from Mobile{CL25}{A10-1T10}"},
    {11, "{LB01}Call from Base Station{CL25}{A11-1T10}"},
    {12, "Mobile release{CL25}{A12-1T10}"},
    {13, "Base Station release{CL25}{A13-1T10}"},
    {15, "{CL02}Power level {A15-2}{CL48}{A15-2T11|A15-3}"},
    {16, "Traffic channel {A16-2}{CL33}{A16-3T16}"},
    {21, "{CL02}RF output {A21-1} dBm"},
    {22, "{CL02}Broadcast channel {A22-1}{CL33}{A22-2T16}"},
    {30, "{CL02}Dialed number{CL25}{A30-1T10}{CR43}{A30-2}{CL48}({A30-3})"},
    {31, "{CL02}Power/Time Template{CL25}{A31-1T10}{CL33}{A31-2T12}{A31-3T13}{A31-4T14}"},
    {32, "{CL02}TX power{CL25}{A32-1T10}{CR39}{A32-2} dBm{CL48}({A32-3} - {A32-4} dBm)"},
    {33, "{CL02}RMS phase{CL25}{A33-1T10}{CR39}{A33-2} deg{CL48}({A33-3} - {A33-4} deg)"},
    {34, "{CL02}Peak phase{CL25}{A34-1T10}{CR39}{A34-2} deg{CL48}({A34-3} - {A34-4} deg)"},
    {35, "{CL02}Freq. error{CL25}{A35-1T10}{CR39}{A35-2} Hz{CL48}({A35-3} - {A35-4} Hz)"},
    {36, "{CL02}Burst length{CL25}{A36-1T10}{CR39}{A36-2} us{CL48}({A36-3} - {A36-4} us)"},
    {37, "{CL02}RX level{CL25}{A37-1T10}{CR39}{A37-2}{CL48}(  {A37-3} - {A37-4})"},
    {38, "{CL02}RX quality{CL25}{A38-1T10}{CR39}{A38-2}{CL48}(   {A38-3} - {A38-4})"},
    {39, "{CL02}BER{CL25}{A39-1T10}{CR39}{A39-2} %{CL48}({A39-3} - {A39-4})"},
    {40, "{CL02}AF loop ({A40-2T15}){CL25}{A40-1T10}"},
    {41, "{CL02}FER{CL25}{A41-1T10}{CR39}{A41-2} %{CL48}({A41-3} - {A41-4})"},
    {42, "Questionbox{CL25}{A42-2T10}"},
    {43, "User input{CL33}{A43-2}"},
    {50, "Connection interrupted{CL25}{A50-1T10}"},
    {51, "Location Update{CL25}{A51-1T10}"},
    {52, "{LB01}Data Call from Mobile{CL25}{A52-1T10}"},
    {53, "{LB01}Data Call from Base{CL25}{A53-1T10}"},
    {54, "{CL02}Timing Advance  {A54-1}"},
    {55, "{CL02}Timing Advance Error{CL25}{A55-1T10}{CR39}{A55-2} us{CL48}({A55-3} - {A55-4})"},
    {56, "{LB01}VGCS Call from BS{CL25}{A56-1T10}{CR35}{A56-2} / {A56-3}"},
    {57, "VGCS Release from BS{CL25}{A57-1T10}"},
    {58, "{LB01}VGCS Call from MS{CL25}{A58-1T10}{CR35}{A58-2} / {A58-3}"},
    {59, "VGCS Release from BS{CL25}{A59-1T10}"},
    {60, "{LB01}GPRS Attach{CL25}{A60-1T10}"},
    {61, "GPRS Detach{CL25}{A61-1T10}"},
};

const char* const end_section[] = {
    "{LB01}{CL02}Test printed at : {A01-1} {A01-2}",
    "{LB01}{CL02}{A03-4}, {A03-3}{LA01}",
};

constexpr int UNDEFINED = -1;

// "(" and the power right-aligned in two characters, "dBm)".
std::string power_part(int dbm) {
    if (dbm == UNDEFINED) return "( ?dBm)";
    char text[16];
    std::snprintf(text, sizeof text, "(%2ddBm)", dbm);
    return text;
}

int power_900(int level) {
    return level <= 19 ? 43 - 2 * level : UNDEFINED;
}
int power_1800(int level) {
    if (level <= 15) return 30 - 2 * level;
    if (level >= 29) return 36 - 2 * (level - 29);
    return UNDEFINED;
}
int power_1900(int level) {
    if (level <= 15) return 30 - 2 * level;
    if (level == 30) return 33;
    if (level == 31) return 32;
    return UNDEFINED;
}

TranslationTable power_by_level() {
    TranslationTable table;
    for (int level = 0; level < 32; ++level) {
        int p900 = power_900(level);
        table.push_back("|" + power_part(p900) + "|" + power_part(p900) + "|" + power_part(p900) +
                        "|" + power_part(power_1800(level)) + "|" + power_part(power_1900(level)) +
                        "|" + power_part(p900));
    }
    return table;
}

std::vector<TranslationTable> translation_tables() {
    return {
        {"PASS", "FAIL"},
        {"?", "GSM 900", "GSM 1800", "GSM 900/1800", "GSM 1900", "GSM 900/1900", "GSM 1800/1900",
         "GSM 900/1800/1900"},
        {"CABLE", "ANTENNA", "COUPLER"},
        {"", "43", "39", "37", "33", "29", "--"},
        {"", "30", "24", "36", "--", "--", "--"},
        {"", "30", "24", "33", "--", "--", "--"},
        {"Phase ?", "Phase 1", "Phase 2", "Phase 3"},
        {"NO", "YES"},
        {"----", "900", "900E", "900PE", "1800", "900/1800", "900E/1800", "900PE/1800"},
        {"PASS", "FAIL *"},
        power_by_level(),
        {"", "Rise"},
        {"", "Flat"},
        {"", "Fall"},
        {"FR", "EFR"},
        {"", "GSM 900", "E-GSM 900", "R-GSM 900", "GSM 1800", "GSM 1900", "GSM 850"},
        {"||||||", "|/|/|/|/|/|/", "|/|/|/|/|/|/", "|/|/|/|/|/|/", "|/|/|/|/|/|/", "|/|/|/|/|/|/",
         "|/|/|/|/|/|/"},
    };
}

}  // namespace

void fill_reference_lists(SettingsState& state) {
    state.excel_rows = {};
    for (const char* line : record_definitions)
        state.excel_rows.entries.push_back(std::string(line) + "\n");
    state.excel_columns = {};
    for (const char* line : field_names)
        state.excel_columns.entries.push_back(std::string(line) + "\n");
    state.printout_start = {{std::begin(start_section), std::end(start_section)}, false};
    state.printout_middle = {{std::begin(middle_section), std::end(middle_section)}, false};
    state.printout_end = {{std::begin(end_section), std::end(end_section)}, false};
    state.printout_tables = {translation_tables(), false};
}

}  // namespace trelvo::testing
