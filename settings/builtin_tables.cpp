#include "settings/builtin_tables.h"

#include <string>

namespace trelvo {

const std::array<std::string_view, 39> builtin_record_definitions = {
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

const std::array<std::string_view, 40> builtin_field_names = {
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

const std::array<std::string_view, 9> builtin_printout_start = {
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

const std::array<BuiltinMiddleLine, 34> builtin_printout_middle = {{
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
}};

const std::array<std::string_view, 2> builtin_printout_end = {
    "{LB01}{CL02}Test printed at : {A01-1} {A01-2}",
    "{LB01}{CL02}{A03-4}, {A03-3}{LA01}",
};

namespace {

// Maximum output power in dBm at power control level `level` for band part 1..6 (the band
// numbering of T16); -1 when the level is not defined for that band.
int band_power(int band, int level) {
    switch (band) {
        case 4:  // GSM 1800
            if (level <= 15) return 30 - 2 * level;
            if (level >= 29) return 36 - 2 * (level - 29);
            return -1;
        case 5:  // GSM 1900
            if (level <= 15) return 30 - 2 * level;
            if (level == 30) return 33;
            if (level == 31) return 32;
            return -1;
        default:  // GSM 900, E-GSM 900, R-GSM 900, GSM 850
            return level <= 19 ? 43 - 2 * level : -1;
    }
}

// T11: one entry per power control level, "|" followed by one "(..dBm)" part per band.
TranslationTable power_level_table() {
    TranslationTable table;
    for (int level = 0; level < 32; ++level) {
        std::string entry;
        for (int band = 1; band <= 6; ++band) {
            // "(", the power right-aligned in two characters, "dBm)".
            const int power = band_power(band, level);
            entry += "|(";
            if (power < 0) {
                entry += " ?";
            } else {
                if (power < 10) entry += ' ';
                entry += std::to_string(power);
            }
            entry += "dBm)";
        }
        table.push_back(entry);
    }
    return table;
}

std::vector<TranslationTable> make_printout_tables() {
    return {
        {"PASS", "FAIL"},  // T01
        {"?", "GSM 900", "GSM 1800", "GSM 900/1800", "GSM 1900", "GSM 900/1900", "GSM 1800/1900",
         "GSM 900/1800/1900"},                                                            // T02
        {"CABLE", "ANTENNA", "COUPLER"},                                                  // T03
        {"", "43", "39", "37", "33", "29", "--"},                                         // T04
        {"", "30", "24", "36", "--", "--", "--"},                                         // T05
        {"", "30", "24", "33", "--", "--", "--"},                                         // T06
        {"Phase ?", "Phase 1", "Phase 2", "Phase 3"},                                     // T07
        {"NO", "YES"},                                                                    // T08
        {"----", "900", "900E", "900PE", "1800", "900/1800", "900E/1800", "900PE/1800"},  // T09
        {"PASS", "FAIL *"},                                                               // T10
        power_level_table(),                                                              // T11
        {"", "Rise"},                                                                     // T12
        {"", "Flat"},                                                                     // T13
        {"", "Fall"},                                                                     // T14
        {"FR", "EFR"},                                                                    // T15
        {"", "GSM 900", "E-GSM 900", "R-GSM 900", "GSM 1800", "GSM 1900", "GSM 850"},     // T16
        {"||||||", "|/|/|/|/|/|/", "|/|/|/|/|/|/", "|/|/|/|/|/|/", "|/|/|/|/|/|/", "|/|/|/|/|/|/",
         "|/|/|/|/|/|/"},  // T17
    };
}

}  // namespace

const std::vector<TranslationTable>& builtin_printout_tables() {
    static const std::vector<TranslationTable> tables = make_printout_tables();
    return tables;
}

void set_builtin_definitions(SettingsState& state) {
    auto with_line_feed = [](const auto& lines) {
        std::vector<std::string> out;
        out.reserve(lines.size());
        for (std::string_view line : lines)
            out.push_back(std::string(line) + "\n");
        return out;
    };
    state.excel_columns = {with_line_feed(builtin_field_names), false};
    state.excel_rows = {with_line_feed(builtin_record_definitions), false};
    state.printout_start = {{builtin_printout_start.begin(), builtin_printout_start.end()}, false};
    std::vector<MiddleLine> middle;
    middle.reserve(builtin_printout_middle.size());
    for (const BuiltinMiddleLine& line : builtin_printout_middle)
        middle.push_back({line.key, std::string(line.text)});
    state.printout_middle = {std::move(middle), false};
    state.printout_end = {{builtin_printout_end.begin(), builtin_printout_end.end()}, false};
    state.printout_tables = {builtin_printout_tables(), false};
}

}  // namespace trelvo
